#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/NumericCompare.hpp"
#include "framework/PathText.hpp"

namespace strandel {
namespace {

struct TextCase {
  std::string input, expected;
};

TEST(LastPathComponent, TrailingSlashesIgnoredAndRootStaysRoot) {
  const std::vector<TextCase> cases = {
      {"/dev/disk2s1", "disk2s1"}, {"disk2s1", "disk2s1"},         {"/Volumes/Backup/", "Backup"},
      {"/Volumes/Backup//", "Backup"}, {"/", "/"},                 {"///", "/"},
      {"", ""},                    {"Recovery HD", "Recovery HD"}, {"Data/EFI", "EFI"},
      {"a/", "a"},                 {"/Volumes/Untitled 1", "Untitled 1"},
  };
  for (const auto& c : cases) EXPECT_EQ(lastPathComponent(c.input), c.expected) << "input '" << c.input << "'";
}

TEST(WholeDiskName, CutsAtTheFirstSliceSeparatorOutsideDisk) {
  const std::vector<TextCase> cases = {
      {"disk1s2", "disk1"},     {"disk1s2s1", "disk1"},   {"disk3", "disk3"},
      {"disk10s4", "disk10"},   {"/dev/disk1s2", "/dev/disk1"}, {"", ""},
      {"s1", ""},               {"dis", "di"},            {"diskdisk2s1", "diskdisk2"},
      {"disks1", "disk"},       {"dizk2s1", "disk2"},     {"rdisk4s2", "rdisk4"},
  };
  for (const auto& c : cases) EXPECT_EQ(wholeDiskName(c.input), c.expected) << "input '" << c.input << "'";
}

TEST(UrlPath, DecodesEscapesAndDropsTheTrailingSlash) {
  const std::vector<TextCase> cases = {
      {"file:///", "/"},
      {"file:///Volumes/Backup%20Disk/", "/Volumes/Backup Disk"},
      {"file:///Volumes/Backups%20of%20Michael%E2%80%99s%20MBP/", "/Volumes/Backups of Michael’s MBP"},
      {"file://localhost/Volumes/Stick/", "/Volumes/Stick"},
      {"file:///Volumes/A%2FB/", "/Volumes/A/B"},
      {"file:///Volumes/Stick", "/Volumes/Stick"},
      {"file:///Volumes/Stick//", "/Volumes/Stick/"},
      {"file:///Volumes/Q?x=1", "/Volumes/Q"},
      {"", ""},
      {"file://", ""},
      {"file:", ""},
      {"file:///Volumes/Bad%2", ""},
      {"file:///Volumes/Bad%zz/", ""},
      {"file:///Volumes/Bad%FF/", ""},
      {"/Volumes/Plain/", "/Volumes/Plain"},
  };
  for (const auto& c : cases) EXPECT_EQ(urlPath(c.input), c.expected) << "url '" << c.input << "'";
}

struct OrderCase {
  std::string a, b;
  int order;
};

TEST(NumericCompare, DigitRunsByValueOtherBytesByCode) {
  const std::vector<OrderCase> cases = {
      {"disk2s2", "disk2s10", -1}, {"disk9", "disk10", -1},   {"disk1s1", "disk1s1", 0},
      {"disk1", "disk1s1", -1},    {"disk10s1", "disk2s10", 1}, {"Disk1", "disk1", -1},
      {"disk01", "disk1", 0},      {"10.13", "10.13.1", -1},   {"10.9", "10.10", -1},
      {"10.13.6", "10.13", 1},     {"", "", 0},                {"", "a", -1},
      {"a", "1", 1},               {"disk1a", "disk1b", -1},   {"x99999999999999999999999", "x100000000000000000000000", -1},
      {"é", "z", 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(numericCompare(c.a, c.b), c.order) << c.a << " vs " << c.b;
    EXPECT_EQ(numericCompare(c.b, c.a), -c.order) << c.b << " vs " << c.a;
  }
}

}  // namespace
}  // namespace strandel
