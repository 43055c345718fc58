// The version texts: the argument of a comparison, and the version tool's two outputs.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "system/VersionCompare.hpp"
#include "system/VersionReport.hpp"

namespace strandel {
namespace {

TEST(TrimVersionArgument, LettersMarksAndBlanksAtBothEnds) {
  // Which characters are letters, marks or blanks is IsVersionTrimCharacter's table below.
  const std::vector<std::pair<std::string_view, std::string_view>> cases = {
      {"10.14", "10.14"},        {"macOS 10.14", "10.14"},  {"Mac OS X 10.6.8", "10.6.8"}, {"10.14 beta", "10.14"},
      {"\t10.14\t", "10.14"},    {"v10.14", "10.14"},       {"(10.14)", "(10.14)"},        {"letters", ""},
      {"   ", ""},               {"", ""},
      {"version 10 . 14 final", "10 . 14"},          // what lies between stays
      {"\xc3\xa9t\xc3\xa9 10.14 \xc3\xa9", "10.14"},   // "été 10.14 é"
      {"10.14\n", "10.14\n"}, {"\n10.14", "\n10.14"}, {"10.14 \n", "10.14 \n"},  // line feeds are not blanks
      {"\xff" "10.14a", "\xff" "10.14"}, {"a\xff", "\xff"},  // a byte that is not UTF-8 is kept
      {"10.14\xc3", "10.14\xc3"},                    // a cut character is kept
  };
  for (const auto& [argument, trimmed] : cases) EXPECT_EQ(trimVersionArgument(argument), trimmed) << argument;
}

TEST(IsVersionTrimCharacter, GeneralCategories) {
  const std::vector<std::pair<char32_t, bool>> cases = {
      {U'A', true},     {U'z', true},      {U' ', true},      {U'\t', true},     {U'\n', false},
      {U'\r', false},   {U'\v', false},    {U'0', false},     {U'.', false},     {U'_', false},
      {0x00A0, true},   {0x00AA, true},    {0x00B5, true},    {0x00D7, false},   {0x00E9, true},
      {0x0085, false},  {0x0301, true},    {0x0660, false},   {0x1680, true},    {0x16EE, false},
      {0x2000, true},   {0x200A, true},    {0x200B, false},   {0x2028, false},   {0x2029, false},
      {0x202F, true},   {0x205F, true},    {0x3000, true},    {0x4E00, true},    {0xFFFD, false},
      {0x1F600, false}, {0x10400, true},   {0xE0100, true},   {0x10FFFF, false}, {0x110000, false},
  };
  for (const auto& [codePoint, trimmed] : cases)
    EXPECT_EQ(isVersionTrimCharacter(codePoint), trimmed) << std::hex << "U+" << static_cast<unsigned>(codePoint);
}

TEST(VersionFromToolOutput, TheFirstLineUntrimmed) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"10.14.6\n", "10.14.6"}, {"10.15", "10.15"}, {"", ""}, {"\n", ""}, {" 10.12.6 \nsecond\n", " 10.12.6 "},
      {"10.13.6\r\n", "10.13.6\r"},
      {"10.6\xe9\n", "10.6\xc3\xa9"},  // above 127: the Latin-1 character
      {std::string("10\0.1\n", 6), std::string("10\0.1", 5)},
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
      {"ProductName:\t\tmacOS\nProductVersion:\t\t26.3.1\nProductVersionExtra:\t(a)\nBuildVersion:\t\t25D771280a\n",
       texts({{"ProductName", "macOS"}, {"ProductVersion", "26.3.1"}, {"ProductVersionExtra", "(a)"},
              {"BuildVersion", "25D771280a"}})},
      {"ProductName:\tMac OS X Server\nProductVersion:\t10.6.8\nBuildVersion:\t10K549",
       texts({{"ProductName", "Mac OS X Server"}, {"ProductVersion", "10.6.8"}, {"BuildVersion", "10K549"}})},
      {"", {}}, {"\n\n", {}}, {"no colon here\n", {}},
      {"Label: value : more text\n", texts({{"Label", "value"}})}, {"Label:a:b:c\n", texts({{"Label", "a"}})},
      {" Label:\tv\n", texts({{" Label", "v"}})},  {"Label :\tv\n", texts({{"Label ", "v"}})},
      {"Label:\n", texts({{"Label", ""}})},         {":value\n", texts({{"", "value"}})},
      {"A:\t1\nA:\t2\n", texts({{"A", "2"}})},     {"A:\t1\r\n", texts({{"A", "1"}})},
      {"A:\xa0 x \x85\x0b\x0c\n", texts({{"A", "x"}})},
      {"Caf\xe9:\tR\xe9sum\xe9\n", texts({{"Caf\xc3\xa9", "R\xc3\xa9sum\xc3\xa9"}})},
  };
  for (const auto& [output, dictionary] : cases) EXPECT_EQ(versionDictionaryFromToolOutput(output), dictionary) << output;
}

// The report as one line of the log; the one of a real report is checked with the log itself.
TEST(DescribeForLog, OldStyleTextOnOneLine) {
  EXPECT_EQ(describeForLog({}), "{ }");
  EXPECT_EQ(describeForLog(texts({{" Odd key", "a \"quoted\\\" line\nbreak\x01"}, {"Empty", ""}})),
            "{ \" Odd key\" = \"a \\\"quoted\\\\\\\" line\\nbreak\\U0001\"; Empty = \"\"; }");
  EXPECT_EQ(describeForLog(texts({{"Name", "Caf\xc3\xa9"}})), "{ Name = \"Caf\xc3\xa9\"; }");
}

}  // namespace
}  // namespace strandel
