// The container of a device in the APFS listing, and whether a mount point is APFS.
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "apfs/ApfsContainer.hpp"
#include "apfs/ApfsListing.hpp"
#include "base/Utf8.hpp"
#include "platform/Machine.hpp"
#include "plist/DictEntry.hpp"
#include "system/Version.hpp"
#include "text/PathComponents.hpp"

namespace strandel::apfs {
namespace {

// The store name that the suffix test uses. Before 10.13 the disk utility's
// "DesignatedPhysicalStore" is not to be trusted, so the first physical store's identifier
// stands in for it.
std::optional<std::string_view> storeName(const PlistValue& container,
                                          bool fromPhysicalStores) noexcept {
  if (!fromPhysicalStores) return stringEntry(&container, "DesignatedPhysicalStore");
  return stringEntry(firstItem(plist::arrayAt(&container, "PhysicalStores")), "DeviceIdentifier");
}

bool matchesContainer(const PlistValue& container, std::string_view device,
                      std::string_view reference, bool storeFromPhysicalStores) noexcept {
  // The reference test is plain equality of last components, an empty one included. An empty
  // store name, though, would match every argument as a suffix, which no caller could want.
  auto ownReference = stringEntry(&container, "ContainerReference");
  if (ownReference && *ownReference == reference) return true;
  auto store = storeName(container, storeFromPhysicalStores);
  return store && !store->empty() && device.ends_with(*store);
}

// A C string on the Mac: the name ends at its first NUL.
std::string_view untilNul(std::string_view bytes) noexcept {
  return bytes.substr(0, bytes.find('\0'));
}

}  // namespace

std::optional<PlistDict> findContainerParsed(std::string_view listingBytes,
                                             const ContainerQuery& query) {
  std::optional<PlistValue> listing = readPlist(listingBytes);
  PlistDict* top = listing ? listing->asDictionary() : nullptr;
  if (!top) return std::nullopt;
  PlistValue* match = nullptr;
  PlistArray* containers = nullptr;
  if (auto found = top->find("Containers"); found != top->end())
    containers = found->second.asArray();
  if (containers) {
    for (PlistValue& container : *containers) {
      if (!matchesContainer(container, query.device, query.reference,
                            query.storeFromPhysicalStores))
        continue;
      match = &container;
      break;
    }
  }
  if (!match || !match->asDictionary()) return std::nullopt;
  return std::move(*match->asDictionary());
}

std::optional<PlistDict> container(std::string_view device) {
  // Both gates are read before the tool runs: an OS too old for APFS never starts it.
  if (system::compareCurrentVersionWith("10.12") == -1) return std::nullopt;
  const bool storeFromPhysicalStores = system::compareCurrentVersionWith("10.13") == -1;

  std::optional<std::string> listing = runAPFSListTool();
  if (!listing) return std::nullopt;
  const ContainerQuery query{device, text::lastPathComponent(device), storeFromPhysicalStores};
  // Parsing the whole listing costs several times the tool's run; the skim builds only the
  // container asked for, and leaves what it can't read to the parser.
  if (auto skimmed = findContainerSkimmed(*listing, query)) return std::move(*skimmed);
  return findContainerParsed(*listing, query);
}

bool isApfsMount(std::string_view mountPath) {
  if (system::compareCurrentVersionWith("10.12") == -1) return false;
  const std::optional<std::string_view> wanted = text::pathTail(mountPath);
  bool isApfs = false;
  platform::current()->mountTable().scan([&](const platform::MountEntryView& entry) {
    // An argument without a tail matches no entry; the table has been read all the same.
    if (!wanted) return true;
    std::string_view mountedOn = untilNul(entry.mountedOn);
    // A mount point that is not valid UTF-8 can't be decoded and has no tail.
    if (!base::isValidUtf8(mountedOn)) return false;
    std::optional<std::string_view> tail = text::pathTail(mountedOn);
    if (!tail || *tail != *wanted) return false;
    // The first entry with the same tail decides; later ones are not looked at.
    isApfs = untilNul(entry.type) == "apfs";
    return true;
  });
  return isApfs;
}

}  // namespace strandel::apfs
