// The role volumes of a container, and the role of one volume, from the APFS listing.
#include "apfs/ApfsRoles.hpp"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "apfs/ApfsListing.hpp"
#include "plist/DictEntry.hpp"

namespace strandel::apfs {
namespace {

// Whether the lookup for `name` searches `container`. The test is on the text alone, so the
// container disk1 is searched for disk10s1 too. An empty reference would be a prefix of every
// name; it names no device, so such a container is never searched.
bool searches(const PlistValue& container, std::string_view name) noexcept {
  auto reference = stringEntry(&container, "ContainerReference");
  return reference && !reference->empty() && name.starts_with(*reference);
}

// The first role name of a volume; nothing when "Roles" is absent, empty or does not start with
// a string. Later names never count.
std::optional<std::string_view> firstRole(const PlistValue& volume) noexcept {
  const PlistValue* first = firstItem(plist::arrayAt(&volume, "Roles"));
  const std::string* text = first ? first->asString() : nullptr;
  if (!text) return std::nullopt;
  return std::string_view(*text);
}

// Visits the volumes of every container searched for `name`, in listing order, until `visit`
// returns true.
void visitSearchedVolumes(const PlistDict& listing, std::string_view name,
                          const std::function<bool(const PlistValue&)>& visit) {
  visitItems(plist::arrayAt(listing, "Containers"), [&](const PlistValue& container) {
    if (!searches(container, name)) return false;
    return visitItems(plist::arrayAt(&container, "Volumes"), visit);
  });
}

}  // namespace

std::optional<std::string> roleVolume(std::string_view device, std::string_view role) {
  std::string_view name = device;
  if (name.starts_with("/dev/")) name.remove_prefix(5);

  std::optional<PlistDict> listing = readAPFSListing();
  if (!listing) return std::nullopt;

  std::optional<std::string> found;
  visitSearchedVolumes(*listing, name, [&](const PlistValue& volume) {
    if (firstRole(volume) != role) return false;
    // The first volume with the role ends the search, even when it has no identifier.
    if (auto identifier = stringEntry(&volume, "DeviceIdentifier"))
      found = std::string(*identifier);
    return true;
  });
  return found;
}

std::optional<std::string> firstRoleOfVolume(std::string_view bsdName) {
  // The name is taken exactly as given: a device path ("/dev/disk3s1") names no listed volume.
  std::optional<PlistDict> listing = readAPFSListing();
  if (!listing) return std::nullopt;

  std::optional<std::string> role;
  visitSearchedVolumes(*listing, bsdName, [&](const PlistValue& volume) {
    if (stringEntry(&volume, "DeviceIdentifier") != bsdName) return false;
    if (auto name = firstRole(volume)) role = std::string(*name);
    return true;
  });
  return role;
}

}  // namespace strandel::apfs
