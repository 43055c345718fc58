#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "system/VersionReport.hpp"

namespace strandel {
namespace {

TEST(VersionFromToolOutput, TheFirstLineUntrimmed) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"10.14.6\n", "10.14.6"},
      {"26.3.1\n", "26.3.1"},
      {"10.15", "10.15"},
      {"", ""},
      {"\n", ""},
      {" 10.12.6 \nsecond\n", " 10.12.6 "},
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

TEST(VersionDictionaryFromToolOutput, RealReports) {
  EXPECT_EQ(versionDictionaryFromToolOutput("ProductName:\tMac OS X\nProductVersion:\t10.12.5\nBuildVersion:\t16F2073\n"),
            texts({{"ProductName", "Mac OS X"}, {"ProductVersion", "10.12.5"}, {"BuildVersion", "16F2073"}}));
  EXPECT_EQ(versionDictionaryFromToolOutput("ProductName:\tMac OS X Server\nProductVersion:\t10.6.8\nBuildVersion:\t10K549"),
            texts({{"ProductName", "Mac OS X Server"}, {"ProductVersion", "10.6.8"}, {"BuildVersion", "10K549"}}));
  EXPECT_EQ(versionDictionaryFromToolOutput("ProductName:\t\tmacOS\nProductVersion:\t\t26.3.1\n"
                                            "ProductVersionExtra:\t(a)\nBuildVersion:\t\t25D771280a\n"),
            texts({{"ProductName", "macOS"},
                   {"ProductVersion", "26.3.1"},
                   {"ProductVersionExtra", "(a)"},
                   {"BuildVersion", "25D771280a"}}));
}

TEST(VersionDictionaryFromToolOutput, LinesAndColons) {
  const std::vector<std::pair<std::string, PlistDict>> cases = {
      {"", {}},
      {"\n\n", {}},
      {"no colon here\n", {}},
      {"Label: value : more text\n", texts({{"Label", "value"}})},
      {"Label:a:b:c\n", texts({{"Label", "a"}})},
      {" Label:\tv\n", texts({{" Label", "v"}})},
      {"Label :\tv\n", texts({{"Label ", "v"}})},
      {"Label:\n", texts({{"Label", ""}})},
      {":value\n", texts({{"", "value"}})},
      {"A:\t1\nA:\t2\n", texts({{"A", "2"}})},
      {"A:\t1\r\n", texts({{"A", "1"}})},
      {"A:\xa0 x \x85\x0b\x0c\n", texts({{"A", "x"}})},
      {"Caf\xe9:\tR\xe9sum\xe9\n", texts({{"Caf\xc3\xa9", "R\xc3\xa9sum\xc3\xa9"}})},
  };
  for (const auto& [output, dictionary] : cases) EXPECT_EQ(versionDictionaryFromToolOutput(output), dictionary) << output;
}

TEST(DescribeForLog, OldStyleTextOnOneLine) {
  EXPECT_EQ(describeForLog({}), "{ }");
  EXPECT_EQ(describeForLog(texts({{"ProductName", "Mac OS X"}, {"ProductVersion", "10.12.6"}, {"BuildVersion", "16G29"}})),
            "{ BuildVersion = 16G29; ProductName = \"Mac OS X\"; ProductVersion = \"10.12.6\"; }");
  EXPECT_EQ(describeForLog(texts({{" Odd key", "a \"quoted\\\" line\nbreak\x01"}, {"Empty", ""}})),
            "{ \" Odd key\" = \"a \\\"quoted\\\\\\\" line\\nbreak\\U0001\"; Empty = \"\"; }");
  EXPECT_EQ(describeForLog(texts({{"Name", "Caf\xc3\xa9"}})), "{ Name = \"Caf\xc3\xa9\"; }");
}

}  // namespace
}  // namespace strandel
