#include <strandel/Strandel.hpp>

namespace strandel {
// Not built yet: byte text and capacity are their own change.
std::string ZVFoundationConvertBytesToStringValue(std::optional<double>) { return "0 bytes"; }
std::string ZVFoundationRoundByteCountToMBAndString(double&) { return "0M"; }
double ZVFoundationGetVolTotalSize(std::string_view) { return 0; }
double ZVFoundationGetVolFreeSize(std::string_view) { return 0; }
double ZVFoundationGetVolUsedSize(std::string_view) { return 0; }
double ZVFoundationGetAPFSVolUsedSize(std::string_view) { return 0; }
std::string ZVFoundationGetVolUsedSizeString(std::string_view) { return "0 bytes"; }
std::string ZVFoundationGetVolTotalSizeString(std::string_view) { return "0 bytes"; }
}  // namespace strandel
