// The importer's readers of `mount` and `df -k`, and the mount URLs it writes, on real lines.
#include "tools/strandel/import/FileUrl.hpp"
#include "tools/strandel/import/MountText.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>

#include "tools/strandel/import/BsdName.hpp"

namespace strandel::importer {
namespace {

struct MountCase {
  const char* line;
  const char* from;  // nullptr: the line is not a mount
  const char* on;
  const char* type;
};

constexpr MountCase kMountCases[] = {
    {"/dev/disk1s5 on / (apfs, local, read-only, journaled)", "/dev/disk1s5", "/", "apfs"},
    {"/dev/disk2s1 on /Volumes/My Disk (hfs, local, nodev, nosuid, journaled)", "/dev/disk2s1", "/Volumes/My Disk", "hfs"},
    {"/dev/disk1s9 on /private/tmp/parens (1) (apfs, local, nodev, nosuid, journaled, nobrowse)", "/dev/disk1s9",
     "/private/tmp/parens (1)", "apfs"},
    {"/dev/disk1s8 on /private/tmp/wat the/woot (apfs, local, nodev, nosuid, journaled, nobrowse)", "/dev/disk1s8",
     "/private/tmp/wat the/woot", "apfs"},
    {"/dev/disk5s1 on /Volumes/Backups of Michael’s MBP (apfs, local, nodev, nosuid, journaled)", "/dev/disk5s1",
     "/Volumes/Backups of Michael’s MBP", "apfs"},
    {"/dev/disk4s1 on /Volumes/A:B (msdos, local, nodev, nosuid, noowners)", "/dev/disk4s1", "/Volumes/A:B", "msdos"},
    {"/dev/disk3 on /Volumes/TC Backup (hfs, local, nodev, nosuid, journaled, noowners)", "/dev/disk3",
     "/Volumes/TC Backup", "hfs"},
    {"/dev/disk3s1s1 on / (apfs, sealed, local, read-only, journaled)", "/dev/disk3s1s1", "/", "apfs"},
    {"map auto_home on /System/Volumes/Data/home (autofs, automounted, nobrowse)", "map auto_home",
     "/System/Volumes/Data/home", "autofs"},
    {"//riccardo@1.0.1.10/video on /Volumes/video (afpfs, nodev, nosuid, mounted by ricc)",
     "//riccardo@1.0.1.10/video", "/Volumes/video", "afpfs"},
    {"devfs on /dev (devfs, local, nobrowse)", "devfs", "/dev", "devfs"},
    {"/dev/disk2s1 on /Volumes/KINGSTON (ms_ntfs, local, read-only, noowners)", "/dev/disk2s1", "/Volumes/KINGSTON",
     "ms_ntfs"},
    {"/dev/disk9 on /Volumes/Solo (hfs)", "/dev/disk9", "/Volumes/Solo", "hfs"},
    // Not mounts: a prompt, a cut line, no type, no " on ".
    {"40 Z% mount", nullptr, nullptr, nullptr},
    {"/dev/disk1s1 on / (apfs, local", nullptr, nullptr, nullptr},
    {"/dev/disk1s1 on / ()", nullptr, nullptr, nullptr},
    {"/dev/disk1s1 / (apfs, local)", nullptr, nullptr, nullptr},
    {"", nullptr, nullptr, nullptr},
};

TEST(ImportMountText, ReadsMountLinesUpToTheLastParenthesis) {
  for (const MountCase& c : kMountCases) {
    auto mount = parseMountLine(c.line);
    if (!c.from) {
      EXPECT_FALSE(mount.has_value()) << c.line;
      continue;
    }
    ASSERT_TRUE(mount.has_value()) << c.line;
    EXPECT_EQ(mount->from, c.from) << c.line;
    EXPECT_EQ(mount->on, c.on) << c.line;
    EXPECT_EQ(mount->type, c.type) << c.line;
  }
}

// macOS 10.15's `df -k`, with inode columns, names with blanks on both sides, and an older
// system's row without them.
constexpr const char* kDf =
    "Filesystem    1024-blocks     Used Available Capacity iused      ifree %iused  Mounted on\n"
    "/dev/disk1s5    244912536 10455152 193848804     6%  488283 2448636397    0%   /\n"
    "devfs                 190      190         0   100%     658          0  100%   /dev\n"
    "map auto_home           0        0         0   100%       0          0  100%   /System/Volumes/Data/home\n"
    "/dev/disk2s1     15137788  5217396   9920392    35%       1          0  100%   /Volumes/My Disk\n"
    "/dev/disk2s10        4096     1024      3072    25%   /Volumes/Old Style\r\n"
    "/dev/disk7        broken row   /Volumes/Broken\n";

TEST(ImportMountText, FindsTheDfRowOfEachMount) {
  struct Case {
    const char* from;
    const char* on;
    std::optional<DfRow> row;
  };
  const Case cases[] = {
      {"/dev/disk1s5", "/", DfRow{244912536, 10455152, 193848804}},
      {"devfs", "/dev", DfRow{190, 190, 0}},
      {"map auto_home", "/System/Volumes/Data/home", DfRow{0, 0, 0}},
      {"/dev/disk2s1", "/Volumes/My Disk", DfRow{15137788, 5217396, 9920392}},
      {"/dev/disk2s10", "/Volumes/Old Style", DfRow{4096, 1024, 3072}},
      // A source that is a prefix of another's, and a mount point that is a suffix of another's.
      {"/dev/disk2s", "/Volumes/Old Style", std::nullopt},
      {"/dev/disk2s1", "Disk", std::nullopt},
      {"/dev/disk7", "/Volumes/Broken", std::nullopt},
      {"/dev/disk8", "/Volumes/Absent", std::nullopt},
  };
  for (const Case& c : cases) {
    auto row = findDfRow(kDf, c.from, c.on);
    ASSERT_EQ(row.has_value(), c.row.has_value()) << c.from << " on " << c.on;
    if (!row) continue;
    EXPECT_EQ(row->blocks, c.row->blocks) << c.on;
    EXPECT_EQ(row->used, c.row->used) << c.on;
    EXPECT_EQ(row->available, c.row->available) << c.on;
  }
}

TEST(ImportMountText, TurnsDfRowsIntoExactStatfsFigures) {
  struct Case {
    DfRow row;
    std::uint32_t blockSize;
    std::uint64_t blocks, freeBlocks;
  };
  const Case cases[] = {
      // An APFS volume: free is what df did not count as used, not the container's Available.
      {{244912536, 10455152, 193848804}, 4096, 61228134, 58614346},
      // Counts that don't fill whole 4096-byte blocks stay in 1024-byte blocks.
      {{190, 190, 0}, 1024, 190, 0},
      {{41102633, 22632028, 18470604}, 1024, 41102633, 18470605},
      {{0, 0, 0}, 4096, 0, 0},
      // More used than there is: nothing free, rather than a wrapped count.
      {{100, 200, 0}, 4096, 25, 0},
  };
  for (const Case& c : cases) {
    StatfsFigures figures = figuresFromDf(c.row);
    EXPECT_EQ(figures.blockSize, c.blockSize) << c.row.blocks;
    EXPECT_EQ(figures.blocks, c.blocks) << c.row.blocks;
    EXPECT_EQ(figures.freeBlocks, c.freeBlocks) << c.row.blocks;
    EXPECT_EQ(std::uint64_t{figures.blockSize} * (figures.blocks - figures.freeBlocks),
              std::min(c.row.used, c.row.blocks) * 1024) << "used bytes of " << c.row.blocks;
  }
}

TEST(ImportMountText, EncodesMountPointsAsTheServiceGivesThem) {
  struct Case {
    const char* path;
    const char* url;
  };
  const Case cases[] = {
      {"/", "file:///"},
      {"/Volumes/My Disk", "file:///Volumes/My%20Disk/"},
      {"/Volumes/Backups of Michael’s MBP", "file:///Volumes/Backups%20of%20Michael%E2%80%99s%20MBP/"},
      {"/Volumes/A:B", "file:///Volumes/A:B/"},
      {"/private/tmp/parens (1)", "file:///private/tmp/parens%20(1)/"},
      {"/Volumes/100% #1?", "file:///Volumes/100%25%20%231%3F/"},
      {"/Volumes/semi;colon", "file:///Volumes/semi%3Bcolon/"},
      {"/Volumes/Trailing/", "file:///Volumes/Trailing/"},
      {"/Volumes/Macintosh HD — Data", "file:///Volumes/Macintosh%20HD%20%E2%80%94%20Data/"},
  };
  for (const Case& c : cases) EXPECT_EQ(mountPointUrl(c.path), std::optional<std::string>(c.url)) << c.path;
  EXPECT_EQ(mountPointUrl(""), std::nullopt);
  EXPECT_EQ(mountPointUrl("Volumes/Relative"), std::nullopt);
}

TEST(ImportMountText, OrdersAndRelatesBsdNames) {
  EXPECT_TRUE(BsdLess()("disk2", "disk10"));
  EXPECT_TRUE(BsdLess()("disk1", "disk1s1"));
  EXPECT_TRUE(BsdLess()("disk1s2", "disk1s10"));
  EXPECT_TRUE(BsdLess()("disk1s5", "disk1s5s1"));
  EXPECT_TRUE(BsdLess()("disk99s9", "notadisk"));
  EXPECT_FALSE(BsdLess()("disk1s1", "disk1s1"));
  EXPECT_EQ(bsdParent("disk1s5s1"), "disk1s5");
  EXPECT_EQ(bsdParent("disk1s5"), "disk1");
  EXPECT_EQ(bsdParent("disk1"), std::nullopt);
  EXPECT_EQ(bsdWhole("disk10s4s1"), "disk10");
  for (const char* notOne : {"disk", "disks1", "disk1s", "disk1t2", "rdisk1", "/dev/disk1", "disk1s2 "}) {
    EXPECT_EQ(bsdNumbers(notOne), std::nullopt) << notOne;
  }
}

}  // namespace
}  // namespace strandel::importer
