#include <strandel/Strandel.hpp>

namespace strandel {
// Not built yet: the Time Machine query and the Full Disk Access probe are their own change.
std::optional<PlistValue> tmutil(const std::vector<std::string>&) { return std::nullopt; }
bool isFullDiskAccessSetup() { return false; }
}  // namespace strandel
