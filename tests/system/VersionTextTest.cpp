// The version texts: the argument of a comparison, and the version tool's two outputs.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "system/VersionCompare.hpp"
#include "system/VersionReport.hpp"

using namespace strandel::system;

namespace strandel {
namespace {

TEST(TrimVersionArgument, LettersMarksAndBlanksAtBothEnds) {
  // Letters and marks (Unicode categories L*, M*), blanks (Zs) and the tab go; nothing else does.
  const std::vector<std::pair<std::string_view, std::string_view>> cases = {
      {"\t10.14\t", "10.14"},
      {"(10.14)", "(10.14)"},
      {"letters", ""},
      {"", ""},
      {"version 10 . 14 final", "10 . 14"},           // what lies between stays
      {"\xc3\xa9t\xc3\xa9 10.14 \xc3\xa9", "10.14"},  // "été 10.14 é"
      {"\u300010.14\u0301", "10.14"},
      {"\u200B10.14", "\u200B10.14"},  // a zero-width space is not a blank
      {"\n10.14", "\n10.14"},          // line feeds are not blanks
      {"a\xff", "\xff"},               // a byte that is not UTF-8 is kept
      {"10.14\xc3", "10.14\xc3"},      // a cut character is kept
  };
  for (const auto& [argument, trimmed] : cases) EXPECT_EQ(trimVersionArgument(argument), trimmed) << argument;
}

TEST(VersionFromToolOutput, TheFirstLineUntrimmed) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      // Above 127: the Latin-1 character.
      {" 10.12.6 \nsecond\n", " 10.12.6 "},
      {"10.15", "10.15"},
      {"10.13.6\r\n", "10.13.6\r"},
      {"10.6\xe9\n", "10.6\xc3\xa9"},
  };
  for (const auto& [output, version] : cases) EXPECT_EQ(versionFromToolOutput(output), version) << output;
}

PlistDict texts(std::vector<std::pair<std::string, std::string>> entries) {
  PlistDict d;
  for (auto& [k, v] : entries) d[k] = PlistValue(v);
  return d;
}

TEST(VersionDictionaryFromToolOutput, LinesAndColons) {
  const std::vector<std::pair<std::string, PlistDict>> cases = {
      {"ProductName:\t\tmacOS\nProductVersion:\t\t26.3.1\nProductVersionExtra:\t(a)\nBuildVersion:"
       "\t\t25D771280a\n",
       texts({{"ProductName", "macOS"},
              {"ProductVersion", "26.3.1"},
              {"ProductVersionExtra", "(a)"},
              {"BuildVersion", "25D771280a"}})},
      {"\nno colon here\n", {}},
      {"Label: value : more text", texts({{"Label", "value"}})},
      {" Label :\tv\n", texts({{" Label ", "v"}})},
      {"A:\t1\nA:\t2\n", texts({{"A", "2"}})},
      {"A:\xa0 x \x85\x0b\x0c\r\n", texts({{"A", "x"}})},
      {"Caf\xe9:\tR\xe9sum\xe9\n", texts({{"Caf\xc3\xa9", "R\xc3\xa9sum\xc3\xa9"}})},
  };
  for (const auto& [output, dictionary] : cases)
    EXPECT_EQ(versionDictionaryFromToolOutput(output), dictionary) << output;
}

}  // namespace
}  // namespace strandel
