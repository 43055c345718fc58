// The exported OS version, mount-table, Time Machine and Full Disk Access queries.
#include <strandel/Strandel.hpp>

#include "system/FullDiskAccess.hpp"
#include "system/MountLookup.hpp"
#include "system/Tmutil.hpp"
#include "system/Version.hpp"

namespace strandel {

std::optional<std::string> ZVGetCurrentSystemString() { return system::currentVersion(); }

PlistDict ZVGetCurrentSystemDictionary() { return system::currentVersionDictionary(); }

std::int64_t ZVCompareCurrentSystemVersionWith(std::optional<std::string_view> version) {
  return system::compareCurrentVersionWith(version);
}

// A PlistValue owns everything below it (strings, bytes, arrays and dictionaries are held by
// value), so its copy is already deep and every part of it can be changed freely: nothing is
// shared with the value copied.
PlistValue ZVDeepMutableCopyPropertyListObject(const PlistValue& value) { return value; }

std::string getVolumeMountFromName(std::optional<std::string_view> mountPoint) {
  return system::mountFromName(mountPoint);
}

std::string getVolumeMountOnName(std::optional<std::string_view> device) {
  return system::mountOnName(device);
}

std::optional<PlistValue> tmutil(const std::vector<std::string>& arguments) {
  return system::runTmutil(arguments);
}

bool isFullDiskAccessSetup() { return system::isFullDiskAccessSetup(); }

}  // namespace strandel
