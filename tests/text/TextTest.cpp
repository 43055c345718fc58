#include <gtest/gtest.h>

#include <optional>
#include <string_view>
#include <tuple>
#include <vector>

#include "text/NumericCompare.hpp"
#include "text/PathComponents.hpp"

namespace strandel {
namespace {

TEST(LastPathComponent, TrailingSlashesIgnoredAndRootStaysRoot) {
  const std::vector<std::pair<std::string_view, std::string_view>> cases = {
      {"disk3", "disk3"}, {"/dev/disk3", "disk3"}, {"/dev/disk3//", "disk3"}, {"/", "/"}, {"///", "/"}, {"", ""},
  };
  for (const auto& [text, component] : cases) EXPECT_EQ(text::lastPathComponent(text), component) << text;
}

TEST(PathTail, Table) {
  const std::vector<std::pair<std::string_view, std::optional<std::string_view>>> cases = {
      {"/Volumes/Backup", "/Backup"},
      {"/", "/"},
      {"/Volumes/Data/", "/"},
      {"/System/Volumes/Data", "/Data"},
      {"Backup", std::nullopt},
      {"", std::nullopt},
      {"//", "/"}};
  for (const auto& [path, tail] : cases) EXPECT_EQ(text::pathTail(path), tail) << path;
}

// Volume names and OS versions order the same way; both kinds of text are in the table.
TEST(NumericCompare, DigitRunsByValueOtherBytesByCode) {
  const std::vector<std::tuple<std::string_view, std::string_view, int>> cases = {
      {"disk2s2", "disk2s10", -1},
      {"disk1", "disk1s1", -1},
      {"disk10s1", "disk2s10", 1},
      {"Disk1", "disk1", -1},
      {"disk01", "disk1", 0},
      {"10.14.6", "10.15", -1},
      {"10.14", "10.14.0", -1},
      {"", "10.14", -1},
      {"", "", 0},
      {"a", "1", 1},
      {"10.010", "10.9", 1},
      {"10.15b", "10.15a", 1},
      {"10.15 beta", "10.15", 1},
      {"a10", "b9", -1},
      {"10a", "9b", 1},
      {"10-14", "10.14", -1},
      {"99999999999999999999999", "99999999999999999999998", 1},
      {"x99999999999999999999999", "x100000000000000000000000", -1},
      {"10.14", "10.14\xc3\xa9", -1},
      {"\xc3\xa9", "z", 1},  // above ASCII orders after it
  };
  for (const auto& [a, b, order] : cases) {
    EXPECT_EQ(text::numericCompare(a, b), order) << '"' << a << "\" vs \"" << b << '"';
    EXPECT_EQ(text::numericCompare(b, a), -order) << '"' << b << "\" vs \"" << a << '"';
  }
}

}  // namespace
}  // namespace strandel
