// Which reader a property list goes to, and what both readers share.
#include "plist/PlistReader.hpp"

namespace strandel::plist {

namespace {

// The refusals of a list that is whole but holds more than we take. Both readers word them
// alike, so they are told here once rather than at each of their places.
bool isBeyondLimits(const std::string& refusal) {
  static constexpr std::string_view kMarks[] = {
      "nested more than", "NUL", "U+0000", "beyond what", "more values than", "UID beyond"};
  for (std::string_view mark : kMarks)
    if (refusal.find(mark) != std::string::npos) return true;
  return false;
}

}  // namespace

PlistReadResult readPlistExplained(std::string_view bytes) {
  // Nothing shorter is a property list of either form; "<true/>" is the closest.
  if (bytes.size() < 8) return {std::nullopt, "too short to be a property list"};
  PlistReadResult result =
      bytes.starts_with("bplist00") ? readBinaryPlist(bytes) : readXmlPlist(bytes);
  result.beyondLimits = !result.value && isBeyondLimits(result.refusal);
  return result;
}

}  // namespace strandel::plist

namespace strandel {

std::optional<PlistValue> readPlist(std::string_view bytes) {
  return plist::readPlistExplained(bytes).value;
}

}  // namespace strandel
