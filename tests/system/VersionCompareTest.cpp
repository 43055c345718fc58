#include <gtest/gtest.h>

#include <string_view>
#include <vector>

#include "system/VersionCompare.hpp"

namespace strandel {
namespace {

TEST(TrimVersionArgument, LettersMarksAndBlanksAtBothEnds) {
  const std::vector<std::pair<std::string_view, std::string_view>> cases = {
      {"10.14", "10.14"},
      {"macOS 10.14", "10.14"},
      {"Mac OS X 10.6.8", "10.6.8"},
      {"10.14 beta", "10.14"},
      {"\t10.14\t", "10.14"},
      {"  10.14  ", "10.14"},
      {"version 10 . 14 final", "10 . 14"},          // what lies between stays
      {"\xc3\xa9t\xc3\xa9 10.14 \xc3\xa9", "10.14"},   // "été 10.14 é"
      {"\xc2\xa0" "10.14\xc2\xa0", "10.14"},         // U+00A0 no-break spaces
      {"\xe3\x80\x80" "10.14\xe3\x80\x80", "10.14"},   // U+3000 ideographic spaces
      {"e\xcc\x81" "10.14", "10.14"},                // a combining mark (category M)
      {"\xe7\x89\x88" "10.14", "10.14"},             // a CJK letter
      {"10.14\n", "10.14\n"},                        // line feeds are not blanks
      {"\n10.14", "\n10.14"},
      {"10.14 \n", "10.14 \n"},
      {"\xe2\x80\xa8" "10.14", "\xe2\x80\xa8" "10.14"},  // U+2028 is a line separator, not a blank
      {"\xd9\xa1" "0.14", "\xd9\xa1" "0.14"},        // an Arabic-Indic digit is no letter
      {"(10.14)", "(10.14)"},
      {"v10.14", "10.14"},
      {"letters", ""},
      {"   ", ""},
      {"", ""},
      {"\xff" "10.14a", "\xff" "10.14"},             // a byte that is not UTF-8 is kept
      {"a\xff", "\xff"},
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

}  // namespace
}  // namespace strandel
