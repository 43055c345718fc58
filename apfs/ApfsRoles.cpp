// The role volumes of a container, and the role of one volume, from the APFS listing.
#include <optional>
#include <string>
#include <string_view>

#include <strandel/Strandel.hpp>

#include "apfs/ApfsListing.hpp"

namespace strandel {
namespace {

// Whether the lookup for `name` searches `container`. The test is on the text alone, so the
// container disk1 is searched for disk10s1 too. An empty reference would be a prefix of every
// name; it names no device, so such a container is never searched.
bool searches(const PlistValue& container, std::string_view name) noexcept {
  const std::string* reference = stringEntry(container, "ContainerReference");
  return reference && !reference->empty() && name.starts_with(*reference);
}

// The first role name of a volume; nothing when "Roles" is absent, empty or does not start with
// a string. Later names never count.
const std::string* firstRole(const PlistValue& volume) noexcept {
  const PlistArray* roles = arrayEntry(volume, "Roles");
  if (!roles || roles->empty()) return nullptr;
  return roles->front().asString();
}

std::optional<std::string> roleVolume(std::string_view device, std::string_view role) {
  std::string_view name = device;
  if (name.starts_with("/dev/")) name.remove_prefix(5);

  auto listing = readAPFSListing();
  if (!listing) return std::nullopt;
  const PlistArray* containers = listingContainers(*listing);
  if (!containers) return std::nullopt;

  for (const PlistValue& container : *containers) {
    if (!searches(container, name)) continue;
    const PlistArray* volumes = arrayEntry(container, "Volumes");
    if (!volumes) continue;
    for (const PlistValue& volume : *volumes) {
      const std::string* first = firstRole(volume);
      if (!first || *first != role) continue;
      // The first volume with the role ends the search, even when it has no identifier.
      const std::string* identifier = stringEntry(volume, "DeviceIdentifier");
      if (!identifier) return std::nullopt;
      return *identifier;
    }
  }
  return std::nullopt;
}

APFSVolumeRole roleOfName(const std::string* name) noexcept {
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
  auto listing = readAPFSListing();
  if (!listing) return APFSVolumeRoleNone;
  const PlistArray* containers = listingContainers(*listing);
  if (!containers) return APFSVolumeRoleNone;

  for (const PlistValue& container : *containers) {
    if (!searches(container, bsdName)) continue;
    const PlistArray* volumes = arrayEntry(container, "Volumes");
    if (!volumes) continue;
    for (const PlistValue& volume : *volumes) {
      const std::string* identifier = stringEntry(volume, "DeviceIdentifier");
      if (identifier && *identifier == bsdName) return roleOfName(firstRole(volume));
    }
  }
  return APFSVolumeRoleNone;
}

}  // namespace strandel
