// The role volumes of a container, and the role of one volume, from the APFS listing.
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include <strandel/Strandel.hpp>

#include "apfs/ApfsListing.hpp"

namespace strandel {
namespace {

// Whether the lookup for `name` searches `container`. The test is on the text alone, so the
// container disk1 is searched for disk10s1 too. An empty reference would be a prefix of every
// name; it names no device, so such a container is never searched.
bool searches(plist_t container, std::string_view name) noexcept {
  auto reference = stringEntry(container, "ContainerReference");
  return reference && !reference->empty() && name.starts_with(*reference);
}

// The first role name of a volume; nothing when "Roles" is absent, empty or does not start with
// a string. Later names never count.
std::optional<std::string_view> firstRole(plist_t volume) noexcept {
  plist_t first = firstItem(arrayEntry(volume, "Roles"));
  if (!first || plist_get_node_type(first) != PLIST_STRING) return std::nullopt;
  std::uint64_t length = 0;
  const char* text = plist_get_string_ptr(first, &length);
  if (!text) return std::nullopt;
  return std::string_view(text, length);
}

// Visits the volumes of every container searched for `name`, in listing order, until `visit`
// returns true.
void visitSearchedVolumes(plist_t listing, std::string_view name, const std::function<bool(plist_t)>& visit) {
  visitItems(arrayEntry(listing, "Containers"), [&](plist_t container) {
    if (!searches(container, name)) return false;
    return visitItems(arrayEntry(container, "Volumes"), visit);
  });
}

std::optional<std::string> roleVolume(std::string_view device, std::string_view role) {
  std::string_view name = device;
  if (name.starts_with("/dev/")) name.remove_prefix(5);

  PlistTree listing = readAPFSListingTree();
  if (!listing) return std::nullopt;

  std::optional<std::string> found;
  visitSearchedVolumes(listing.get(), name, [&](plist_t volume) {
    if (firstRole(volume) != role) return false;
    // The first volume with the role ends the search, even when it has no identifier.
    if (auto identifier = stringEntry(volume, "DeviceIdentifier")) found = std::string(*identifier);
    return true;
  });
  return found;
}

APFSVolumeRole roleOfName(std::optional<std::string_view> name) noexcept {
  if (!name) return APFSVolumeRoleNone;
  static constexpr std::pair<std::string_view, APFSVolumeRole> kRoles[] = {
      {"System", APFSVolumeRoleSystem},     {"Data", APFSVolumeRoleData}, {"Preboot", APFSVolumeRolePreboot},
      {"Recovery", APFSVolumeRoleRecovery}, {"VM", APFSVolumeRoleVM},     {"Backup", APFSVolumeRoleBackup},
  };
  for (const auto& [roleName, code] : kRoles) {
    if (*name == roleName) return code;
  }
  return APFSVolumeRoleNone;
}

}  // namespace

std::optional<std::string> getAPFSSystemVolume(std::string_view device) { return roleVolume(device, "System"); }
std::optional<std::string> getAPFSDataVolume(std::string_view device) { return roleVolume(device, "Data"); }
std::optional<std::string> getAPFSPrebootVolume(std::string_view device) { return roleVolume(device, "Preboot"); }
std::optional<std::string> getAPFSRecoveryVolume(std::string_view device) { return roleVolume(device, "Recovery"); }

APFSVolumeRole getAPFSVolumeRole(std::string_view bsdName) {
  // The name is taken exactly as given: a device path ("/dev/disk3s1") names no listed volume.
  PlistTree listing = readAPFSListingTree();
  if (!listing) return APFSVolumeRoleNone;

  APFSVolumeRole role = APFSVolumeRoleNone;
  visitSearchedVolumes(listing.get(), bsdName, [&](plist_t volume) {
    if (stringEntry(volume, "DeviceIdentifier") != bsdName) return false;
    role = roleOfName(firstRole(volume));
    return true;
  });
  return role;
}

}  // namespace strandel
