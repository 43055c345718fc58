// Which reader a property list goes to, and what both readers share.
#include "plist/PlistReader.hpp"

#include <cmath>

using namespace strandel::detail;

namespace strandel {

PlistReadResult detail::readPlistExplained(std::string_view bytes) {
  // Nothing shorter is a property list of either form; "<true/>" is the closest.
  if (bytes.size() < 8) return {std::nullopt, "too short to be a property list"};
  if (bytes.starts_with("bplist00")) return readBinaryPlist(bytes);
  return readXmlPlist(bytes);
}

std::optional<PlistValue> readPlist(std::string_view bytes) { return readPlistExplained(bytes).value; }

std::optional<double> detail::plistDateSeconds(double seconds) noexcept {
  if (!(seconds > -2147483649.0 && seconds < 2147483648.0)) return std::nullopt;
  double whole = std::trunc(seconds);
  double micro = std::trunc((seconds - whole) * 1e6);
  return whole + micro / 1e6;
}

}  // namespace strandel
