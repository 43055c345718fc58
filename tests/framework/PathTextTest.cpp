#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/PathText.hpp"

namespace strandel {
namespace {

struct TextCase {
  std::string input, expected;
};

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

}  // namespace
}  // namespace strandel
