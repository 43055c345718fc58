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
      // The usual devices are the mounts of the used-size table below.
      {"/dev/disk4", "disk4"}, {"disk2s2", "disk2"}, {"/dev/rdisk0s2", "disk0"},
      {"/dev/disks1", "disk"}, {"", std::nullopt},   {"/dev/disk1/", "disk1"},
  };
  for (const auto& c : cases) EXPECT_EQ(capacity::containerNameOfDevice(c.device), c.container) << c.device;
}

// A mount of 4096-byte blocks.
MountOutline mountOf(const char* on, const char* from, const char* type, std::uint64_t blocks, std::uint64_t free) {
  return {.on = on, .from = from, .type = type, .blockSize = 4096, .blocks = blocks, .freeBlocks = free};
}

const MountOutline kDevfs{
    .on = "/dev", .from = "devfs", .type = "devfs", .blockSize = 512, .blocks = 385, .freeBlocks = 0};

// A path inside a volume measures that volume; /Volumes is a folder of the root volume, not of
// the backup disk; a path that can't be measured gives zero; more free than total blocks give
// a negative used size.
TEST(VolumeSize, FiguresOfThePathsVolume) {
  ImageBuilder image;
  image.mount({.on = "/", .from = "/dev/disk1s1", .type = "apfs"}).mount(kDevfs);
  image.mount(mountOf("/Volumes/Backup", "/dev/disk2s2", "hfs", 1000, 250));
  image.mount(mountOf("/Volumes/Odd", "/dev/disk3s1", "apfs", 100, 150));
  image.file("/Volumes/Backup/Backups.backupdb/notes.txt", "x");
  ScopedMachine machine(image);
  const struct {
    std::string_view path;
    double total, used, free;
    const char *totalText, *usedText;
  } cases[] = {
      {"/", kTotal, kUsed, kFree, "500 GB", "250 GB"},
      {"/Volumes", kTotal, kUsed, kFree, "500 GB", "250 GB"},
      {"/Volumes/Backup", 4096000, 3072000, 1024000, "4.10 MB", "3.07 MB"},
      {"/Volumes/Backup/", 4096000, 3072000, 1024000, "4.10 MB", "3.07 MB"},
      {"/Volumes/Backup/Backups.backupdb/notes.txt", 4096000, 3072000, 1024000, "4.10 MB", "3.07 MB"},
      {"/Volumes/Odd", 409600, -204800, 614400, "409.60 KB", "-204800 bytes"},
      {"/Volumes/Missing", 0, 0, 0, "0 bytes", "0 bytes"},
      {"", 0, 0, 0, "0 bytes", "0 bytes"},
      {"/Volumes/Backup/none", 0, 0, 0, "0 bytes", "0 bytes"},
      {std::string_view("/\0/", 3), 0, 0, 0, "0 bytes", "0 bytes"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ZVFoundationGetVolTotalSize(c.path), c.total) << c.path;
    EXPECT_EQ(ZVFoundationGetVolUsedSize(c.path), c.used) << c.path;
    EXPECT_EQ(ZVFoundationGetVolFreeSize(c.path), c.free) << c.path;
    EXPECT_EQ(ZVFoundationGetVolTotalSizeString(c.path), c.totalText) << c.path;
    EXPECT_EQ(ZVFoundationGetVolUsedSizeString(c.path), c.usedText) << c.path;
  }
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
  image.mount(mountOf("/", "/dev/disk1s5", "apfs", 119628906, 7201696)).mount(kDevfs);
  image.mount(mountOf("/System/Volumes/Data", "/dev/disk1s1", "apfs", 119628906, 7201696));
  image.mount(mountOf("/System/Volumes/Data/home", "map auto_home", "autofs", 0, 0));
  image.mount(mountOf("/Volumes/Backup", "/dev/disk2s2", "hfs", 1000, 250));
  image.mount(mountOf("/Volumes/Snap", "/dev/disk3s1s1", "apfs", 1000, 500));
  image.mount(mountOf("/Volumes/Ten", "/dev/disk10s2", "apfs", 1000, 500));
  image.mount(mountOf("/Volumes/Four", "/dev/disk4s1", "apfs", 1000, 500));
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
      // stands; so for a mount of no disk.
      {"/Volumes/Backup", 3072000},
      {"/System/Volumes/Data/home", 0},
      {"/dev", 197120},
      {"/Volumes/Missing", 0},
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

}  // namespace
}  // namespace strandel
