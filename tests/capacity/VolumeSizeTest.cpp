#include "capacity/VolumeSize.hpp"

#include <gtest/gtest.h>

#include <filesystem>

#include <strandel/Strandel.hpp>

#include "tests/support/ImageBuilder.hpp"

namespace strandel {
namespace {

using testing::ImageBuilder;
using testing::MountOutline;
using testing::ScopedMachine;

// The worked figures: 4096-byte blocks, 122070313 of them, 61035156 free.
constexpr double kTotal = 500000002048;
constexpr double kUsed = 250000003072;
constexpr double kFree = 249999998976;

TEST(VolumeSize, ContainerNameOfADevice) {
  struct Case {
    const char* device;
    std::optional<std::string> container;
  } cases[] = {
      {"/dev/disk1s1", "disk1"}, {"/dev/disk10s2", "disk10"},     {"/dev/disk4", "disk4"},
      {"disk2s2", "disk2"},      {"/dev/rdisk0s2", "disk0"},      {"/dev/disks1", "disk"},
      {"", std::nullopt},        {"map auto_home", std::nullopt}, {"/dev/disk1/", "disk1"},
  };
  for (const auto& c : cases) EXPECT_EQ(capacity::containerNameOfDevice(c.device), c.container) << c.device;
}

ImageBuilder workedImage() {
  ImageBuilder image;
  image.mount({.on = "/", .from = "/dev/disk1s1", .type = "apfs"});
  image.mount({.on = "/dev", .from = "devfs", .type = "devfs", .blockSize = 512, .blocks = 385, .freeBlocks = 0});
  image.mount({.on = "/Volumes/Backup",
               .from = "/dev/disk2s2",
               .type = "hfs",
               .blockSize = 4096,
               .blocks = 1000,
               .freeBlocks = 250});
  image.file("/Volumes/Backup/Backups.backupdb/notes.txt", "x");
  return image;
}

TEST(VolumeSize, WorkedFigures) {
  ScopedMachine machine(workedImage());
  EXPECT_EQ(ZVFoundationGetVolTotalSize("/"), kTotal);
  EXPECT_EQ(ZVFoundationGetVolUsedSize("/"), kUsed);
  EXPECT_EQ(ZVFoundationGetVolFreeSize("/"), kFree);
  EXPECT_EQ(ZVFoundationGetVolTotalSizeString("/"), "500 GB");
  EXPECT_EQ(ZVFoundationGetVolUsedSizeString("/"), "250 GB");
}

TEST(VolumeSize, APathInsideAVolumeMeasuresThatVolume) {
  ScopedMachine machine(workedImage());
  for (const char* path : {"/Volumes/Backup", "/Volumes/Backup/", "/Volumes/Backup/Backups.backupdb",
                           "/Volumes/Backup/Backups.backupdb/notes.txt"}) {
    EXPECT_EQ(ZVFoundationGetVolTotalSize(path), 4096000) << path;
    EXPECT_EQ(ZVFoundationGetVolFreeSize(path), 1024000) << path;
    EXPECT_EQ(ZVFoundationGetVolUsedSize(path), 3072000) << path;
    EXPECT_EQ(ZVFoundationGetVolTotalSizeString(path), "4.10 MB") << path;
  }
  // /Volumes is a folder of the root volume, not of the backup disk.
  EXPECT_EQ(ZVFoundationGetVolTotalSize("/Volumes"), kTotal);
}

TEST(VolumeSize, APathThatCantBeMeasuredGivesZero) {
  ScopedMachine machine(workedImage());
  for (std::string_view path : {std::string_view("/Volumes/Missing"), std::string_view(""),
                                std::string_view("/Volumes/Backup/none"), std::string_view("/\0/", 3)}) {
    EXPECT_EQ(ZVFoundationGetVolTotalSize(path), 0) << path;
    EXPECT_EQ(ZVFoundationGetVolUsedSize(path), 0) << path;
    EXPECT_EQ(ZVFoundationGetVolTotalSizeString(path), "0 bytes") << path;
  }
}

TEST(VolumeSize, MoreFreeThanTotalGivesANegativeUsedSize) {
  ImageBuilder image;
  image.mount({.on = "/", .from = "/dev/disk1s1", .type = "apfs", .blockSize = 4096, .blocks = 100, .freeBlocks = 150});
  ScopedMachine machine(image);
  EXPECT_EQ(ZVFoundationGetVolTotalSize("/"), 409600);
  EXPECT_EQ(ZVFoundationGetVolFreeSize("/"), 614400);
  EXPECT_EQ(ZVFoundationGetVolUsedSize("/"), -204800);
  EXPECT_EQ(ZVFoundationGetVolUsedSizeString("/"), "-204800 bytes");
}

// The APFS used size of a container, from the disk utility's listing.

PlistDict container(const std::string& reference, const std::string& store, std::optional<std::int64_t> ceiling,
                    std::optional<std::int64_t> free) {
  PlistDict entry{{"ContainerReference", PlistValue(reference)},
                  {"DesignatedPhysicalStore", PlistValue(store)},
                  {"PhysicalStores", PlistArray{PlistDict{{"DeviceIdentifier", PlistValue(store)}}}},
                  {"Volumes", PlistArray{}}};
  if (ceiling) entry["CapacityCeiling"] = *ceiling;
  if (free) entry["CapacityFree"] = *free;
  return entry;
}

// An image whose disk utility prints `containers` as its APFS listing and leaves a mark in
// /tmp each time it runs.
ImageBuilder withListing(ImageBuilder image, PlistArray containers) {
  image.file("/usr/share/strandel-test/apfs-list.plist",
             writeXmlPlist(PlistDict{{"Containers", std::move(containers)}}));
  image.tool("/usr/sbin/diskutil",
             "#!/bin/sh\n"
             "root=\"${0%/usr/sbin/diskutil}\"\n"
             ": >> \"$root/tmp/diskutil-ran\"\n"
             "/bin/cat \"$root/usr/share/strandel-test/apfs-list.plist\"\n");
  return image;
}

ImageBuilder catalinaImage() {
  ImageBuilder image;
  image.mount({.on = "/",
               .from = "/dev/disk1s5",
               .type = "apfs",
               .blockSize = 4096,
               .blocks = 119628906,
               .freeBlocks = 7201696});
  image.mount({.on = "/dev", .from = "devfs", .type = "devfs", .blockSize = 512, .blocks = 385, .freeBlocks = 0});
  image.mount({.on = "/System/Volumes/Data",
               .from = "/dev/disk1s1",
               .type = "apfs",
               .blockSize = 4096,
               .blocks = 119628906,
               .freeBlocks = 7201696});
  image.mount({.on = "/System/Volumes/Data/home",
               .from = "map auto_home",
               .type = "autofs",
               .blockSize = 4096,
               .blocks = 0,
               .freeBlocks = 0});
  image.mount({.on = "/Volumes/Backup",
               .from = "/dev/disk2s2",
               .type = "hfs",
               .blockSize = 4096,
               .blocks = 1000,
               .freeBlocks = 250});
  image.mount({.on = "/Volumes/Snap",
               .from = "/dev/disk3s1s1",
               .type = "apfs",
               .blockSize = 4096,
               .blocks = 1000,
               .freeBlocks = 500});
  image.mount({.on = "/Volumes/Ten",
               .from = "/dev/disk10s2",
               .type = "apfs",
               .blockSize = 4096,
               .blocks = 1000,
               .freeBlocks = 500});
  image.mount({.on = "/Volumes/Four",
               .from = "/dev/disk4s1",
               .type = "apfs",
               .blockSize = 4096,
               .blocks = 1000,
               .freeBlocks = 500});
  return withListing(std::move(image), PlistArray{
                                           container("disk1", "disk0s2", 499963174912, 123456789504),
                                           container("disk10", "disk9s2", 2000000000000, 500000000000),
                                           container("disk3", "disk2s3", 1000000, std::nullopt),
                                           container("disk4", "disk0s4", std::nullopt, 300000),
                                       });
}

TEST(VolumeSize, ApfsUsedSize) {
  ScopedMachine machine(catalinaImage());
  const struct {
    const char* path;
    double used;
  } cases[] = {
      // Both volumes of disk1 answer for the whole container.
      {"/", 376506385408},
      {"/System/Volumes/Data", 376506385408},
      {"/Volumes/Ten", 1500000000000},
      // disk3s1s1, a snapshot, belongs to disk3, whose entry has no free figure.
      {"/Volumes/Snap", 1000000},
      // disk4 has no ceiling: 0 less its free space.
      {"/Volumes/Four", -300000},
      // An HFS partition: disk2 is asked for, no container answers, the volume's own used size
      // stands; so for a folder, a trailing "/" or a mount of no disk.
      {"/Volumes/Backup", 3072000},
      {"/Volumes/Backup/", 3072000},
      {"/System/Volumes/Data/home", 0},
      {"/dev", 197120},
      {"/Volumes/Missing", 0},
      {"", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(ZVFoundationGetAPFSVolUsedSize(c.path), c.used) << c.path;
}

TEST(VolumeSize, ApfsUsedSizeRunsNoDiskUtilityWithoutADisk) {
  ScopedMachine machine(catalinaImage());
  auto mark = machine.dir() / "root/tmp/diskutil-ran";
  EXPECT_EQ(ZVFoundationGetAPFSVolUsedSize("/dev"), 197120);
  EXPECT_EQ(ZVFoundationGetAPFSVolUsedSize("/Volumes/Elsewhere"), 0);
  EXPECT_FALSE(std::filesystem::exists(mark)) << "a mount without a disk ran the disk utility";
  EXPECT_EQ(ZVFoundationGetAPFSVolUsedSize("/"), 376506385408);
  EXPECT_TRUE(std::filesystem::exists(mark)) << "the disk utility's listing was not read";
}

TEST(VolumeSize, ApfsUsedSizeOnAnOSWithoutApfsLookupsFallsBack) {
  ImageBuilder image = catalinaImage();
  image.tool("/usr/bin/sw_vers", "#!/bin/sh\necho 10.11.6\n");
  ScopedMachine machine(image);
  EXPECT_EQ(ZVFoundationGetAPFSVolUsedSize("/"), ZVFoundationGetVolUsedSize("/"));
  EXPECT_EQ(ZVFoundationGetAPFSVolUsedSize("/"), 4096.0 * (119628906 - 7201696));
}

}  // namespace
}  // namespace strandel
