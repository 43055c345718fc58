// The exported byte-text and capacity queries.
#include <strandel/Strandel.hpp>

#include "capacity/ByteText.hpp"
#include "capacity/VolumeSize.hpp"

namespace strandel {

std::string ZVFoundationConvertBytesToStringValue(std::optional<double> bytes) {
  return capacity::bytesText(bytes);
}

std::string ZVFoundationRoundByteCountToMBAndString(double& bytes) {
  return capacity::roundedToMebibytesText(bytes);
}

double ZVFoundationGetVolTotalSize(std::string_view path) { return capacity::totalSize(path); }
double ZVFoundationGetVolFreeSize(std::string_view path) { return capacity::freeSize(path); }
double ZVFoundationGetVolUsedSize(std::string_view path) { return capacity::usedSize(path); }
double ZVFoundationGetAPFSVolUsedSize(std::string_view mountPoint) {
  return capacity::apfsUsedSize(mountPoint);
}
std::string ZVFoundationGetVolUsedSizeString(std::string_view path) {
  return capacity::usedSizeText(path);
}
std::string ZVFoundationGetVolTotalSizeString(std::string_view path) {
  return capacity::totalSizeText(path);
}

}  // namespace strandel
