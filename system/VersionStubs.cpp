#include <strandel/Strandel.hpp>

namespace strandel {
// Not built yet: the OS version facts are their own change.
std::optional<std::string> ZVGetCurrentSystemString() { return std::nullopt; }
PlistDict ZVGetCurrentSystemDictionary() { return {}; }
std::int64_t ZVCompareCurrentSystemVersionWith(std::optional<std::string_view>) { return 0; }
PlistValue ZVDeepMutableCopyPropertyListObject(const PlistValue& value) { return value; }
}  // namespace strandel
