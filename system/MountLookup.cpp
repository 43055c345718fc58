// Mount-table lookups: from a mount point to the name it is mounted from, and from a device to
// where it is mounted. Every call reads the table afresh through the machine; each scan owns
// its storage, so lookups on several threads never share it.
#include "system/MountLookup.hpp"

#include "base/Utf8.hpp"
#include "platform/Machine.hpp"

namespace strandel::system {

std::string mountFromName(std::optional<std::string_view> mountPoint) {
  // Nothing equals an absent text, and no entry that decodes as UTF-8 equals bytes that don't:
  // either way the scan could only end empty-handed, so it is not made.
  if (!mountPoint || !base::isValidUtf8(*mountPoint)) return "";
  std::string found;
  platform::current()->mountTable().scan([&](const platform::MountEntryView& entry) {
    // Byte equality with a valid UTF-8 argument means the mount point decodes to the same text.
    if (entry.mountedOn != *mountPoint) return false;
    // The first entry on that mount point decides; a mounted-from name that is not UTF-8 is
    // absent text, and the answer for it is "".
    if (base::isValidUtf8(entry.mountedFrom)) found.assign(entry.mountedFrom);
    return true;
  });
  return found;
}

std::string mountOnName(std::optional<std::string_view> device) {
  // A device text that is not UTF-8 is no text at all, the same as an absent one.
  if (!device || !base::isValidUtf8(*device)) return "";
  constexpr std::string_view kDev = "/dev/";
  std::string devicePath =
      device->starts_with(kDev) ? std::string(*device) : std::string(kDev) + std::string(*device);
  // The device path begins with "/dev/", so its first occurrence is the leading one.
  std::string_view bsdName = std::string_view(devicePath).substr(kDev.size());

  std::string found;
  platform::current()->mountTable().scan([&](const platform::MountEntryView& entry) {
    std::string_view from = entry.mountedFrom;
    bool matches = from.starts_with(devicePath) ||
                   (!bsdName.empty() && from.find(bsdName) != std::string_view::npos);
    // The byte tests come first because they are cheap; a name that is not UTF-8 matches
    // nothing, whatever its bytes.
    if (!matches || !base::isValidUtf8(from)) return false;
    if (base::isValidUtf8(entry.mountedOn)) found.assign(entry.mountedOn);
    return true;
  });
  return found;
}

}  // namespace strandel::system
