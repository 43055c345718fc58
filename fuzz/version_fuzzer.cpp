// The version tool's two outputs (`sw_vers` and `sw_vers -productVersion`) and the comparison of
// version texts. The input is the tool output whole; split at its NUL bytes, its first three
// pieces are also version texts to order.
#include <array>
#include <cstdint>

#include "fuzz/FuzzCheck.hpp"
#include "system/VersionCompare.hpp"
#include "system/VersionReport.hpp"

namespace {

using strandel::fuzz::check;
using strandel::system::compareVersionTexts;

void checkReport(std::string_view bytes) {
  std::string version = strandel::system::versionFromToolOutput(bytes);
  check(version.find('\n') == std::string::npos, "the version is one line");
  strandel::PlistDict report = strandel::system::versionDictionaryFromToolOutput(bytes);
  std::string line = strandel::system::describeForLog(report);
  check(line.find_first_of("\r\n") == std::string::npos, "the report is logged on one line");
}

bool isSubview(std::string_view part, std::string_view whole) {
  return part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size();
}

void checkOrder(std::string_view a, std::string_view b, std::string_view c) {
  int ab = strandel::system::compareVersionTexts(a, b),
      ba = strandel::system::compareVersionTexts(b, a);
  check(ab >= -1 && ab <= 1, "a comparison gives -1, 0 or 1");
  check(ab == -ba, "the comparison is antisymmetric");
  check(strandel::system::compareVersionTexts(a, a) == 0, "a version equals itself");
  int bc = strandel::system::compareVersionTexts(b, c),
      ac = strandel::system::compareVersionTexts(a, c);
  if (ab <= 0 && bc <= 0) check(ac <= 0, "the comparison is transitive");
  if (ab >= 0 && bc >= 0) check(ac >= 0, "the comparison is transitive");

  std::string_view trimmed = strandel::system::trimVersionArgument(a);
  check(trimmed.empty() || isSubview(trimmed, a), "the trimmed version lies inside the argument");
  check(strandel::system::trimVersionArgument(trimmed) == trimmed,
        "trimming twice changes nothing more");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes = strandel::fuzz::textOf(data, size);
  checkReport(bytes);

  std::array<std::string_view, 3> pieces;
  std::string_view rest = bytes;
  for (auto& piece : pieces) {
    std::size_t nul = rest.find('\0');
    piece = rest.substr(0, nul);
    rest = nul == std::string_view::npos ? std::string_view() : rest.substr(nul + 1);
  }
  checkOrder(pieces[0], pieces[1], pieces[2]);
  return 0;
}
