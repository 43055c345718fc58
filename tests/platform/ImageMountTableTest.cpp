#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>

#include "platform/image/ImageMachine.hpp"
#include "tests/support/ImageBuilder.hpp"
#include "tests/support/TempDir.hpp"

namespace strandel::platform::image {
namespace {

using testing::ImageBuilder;

ImageBuilder mountedImage() {
  ImageBuilder image;
  image.mount({.on = "/", .from = "/dev/disk3s1s1", .type = "apfs", .blockSize = 4096, .blocks = 100, .freeBlocks = 1});
  image.mount({.on = "/Volumes/Data", .from = "/dev/disk4s1", .type = "hfs", .blockSize = 512, .blocks = 200, .freeBlocks = 2});
  image.mount({.on = "/Volumes/Data/Inner", .from = "/dev/disk5s1", .type = "msdos", .blockSize = 32768, .blocks = 300, .freeBlocks = 3});
  image.mount({.on = "/Volumes/DataX/", .from = "/dev/disk6s1", .type = "exfat", .blockSize = 131072, .blocks = 400, .freeBlocks = 4});
  // Mounted over the first one: the later mount on a folder is the one that answers.
  image.mount({.on = "/Volumes/Data/Inner", .from = "/dev/disk7s1", .type = "apfs", .blockSize = 4096, .blocks = 500, .freeBlocks = 5});
  image.file("/Volumes/Data/file.txt", "x");
  image.file("/Volumes/DataY/file.txt", "y");
  image.file("/Volumes/DataX/deep/er/file", "z");
  return image;
}

TEST(ImageMountTable, StatfsTakesTheLongestWholeComponentPrefix) {
  testing::TempDir dir;
  mountedImage().write(dir.path());
  std::filesystem::create_directory_symlink("../Volumes/Data/Inner", dir.path() / "root/tmp/inner-link");
  std::filesystem::create_directory_symlink("/", dir.path() / "root/tmp/host-root");
  LoadResult loaded = loadMachine(dir.str());
  ASSERT_NE(loaded.machine, nullptr) << loaded.error;
  MountTable& table = loaded.machine->mountTable();

  const struct {
    const char* path;
    std::optional<std::uint64_t> blocks;  // which mount answers; nothing when statfs fails
  } cases[] = {
      {"/", 100},
      {"/tmp", 100},
      {"/Volumes", 100},
      {"/Volumes/Data", 200},
      {"/Volumes/Data/", 200},
      {"/Volumes/Data/file.txt", 200},
      {"/Volumes/Data/Inner", 500},
      {"/Volumes/Data/Inner/../file.txt", 200},
      {"/Volumes/DataX", 400},
      {"/Volumes/DataX/deep/er/file", 400},
      {"/Volumes/DataY/file.txt", 100},  // "/Volumes/Data" is not a prefix of "/Volumes/DataY"
      {"/tmp/inner-link", 500},          // found where the link leads
      {"/Volumes/Data/missing", std::nullopt},
      {"/Volumes/Data/file.txt/x", std::nullopt},
      {"/../..", std::nullopt},
      {"/Volumes/../../Volumes/Data", std::nullopt},
      {"/tmp/host-root", std::nullopt},
      {"/tmp/host-root/etc", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) {
    auto figures = table.statfs(c.path);
    ASSERT_EQ(figures.has_value(), c.blocks.has_value()) << c.path;
    if (figures) {
      EXPECT_EQ(figures->blocks, *c.blocks) << c.path;
    }
  }
  auto data = table.statfs("/Volumes/Data");
  ASSERT_TRUE(data.has_value());
  EXPECT_EQ(data->blockSize, 512u);
  EXPECT_EQ(data->freeBlocks, 2u);
}

TEST(ImageMountTable, StatfsFailsWithoutAMountAtTheTop) {
  ImageBuilder image;
  image.mount({.on = "/Volumes/Data", .from = "/dev/disk4s1", .type = "hfs"});
  testing::TempDir dir;
  image.write(dir.path());
  LoadResult loaded = loadMachine(dir.str());
  ASSERT_NE(loaded.machine, nullptr) << loaded.error;
  EXPECT_EQ(loaded.machine->mountTable().statfs("/tmp"), std::nullopt);
  EXPECT_TRUE(loaded.machine->mountTable().statfs("/Volumes/Data").has_value());
}

TEST(ImageMountTable, ScanVisitsInTableOrderWithRawNamesAndStopsWhenAsked) {
  testing::TempDir dir;
  mountedImage().write(dir.path());
  PlistValue plist = mountedImage().machinePlist();
  // Names that are not UTF-8 are written as data and come back byte for byte.
  (*(*plist.asDictionary())["Mounts"].asArray())[1].asDictionary()->insert_or_assign(
      "f_mntonname", PlistData{{'/', 'V', 0xE9, 'l'}});
  testing::writeFile(dir.path() / "machine.plist", writeBinaryPlist(plist));
  LoadResult loaded = loadMachine(dir.str());
  ASSERT_NE(loaded.machine, nullptr) << loaded.error;

  std::vector<std::string> seen;
  EXPECT_TRUE(loaded.machine->mountTable().scan([&](const MountEntryView& entry) {
    seen.push_back(std::string(entry.mountedOn) + " " + std::string(entry.mountedFrom) + " " + std::string(entry.type));
    return false;
  }));
  EXPECT_EQ(seen, (std::vector<std::string>{"/ /dev/disk3s1s1 apfs", "/V\xE9l /dev/disk4s1 hfs",
                                            "/Volumes/Data/Inner /dev/disk5s1 msdos", "/Volumes/DataX/ /dev/disk6s1 exfat",
                                            "/Volumes/Data/Inner /dev/disk7s1 apfs"}));

  int visits = 0;
  EXPECT_TRUE(loaded.machine->mountTable().scan([&](const MountEntryView& entry) {
    ++visits;
    return entry.type == "msdos";
  }));
  EXPECT_EQ(visits, 3);
}

}  // namespace
}  // namespace strandel::platform::image
