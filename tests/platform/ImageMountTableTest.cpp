#include <gtest/gtest.h>

#include <filesystem>

#include "platform/image/ImageMachine.hpp"
#include "tests/support/ImageBuilder.hpp"
#include "tests/support/TempDir.hpp"

namespace strandel::platform::image {
namespace {

using testing::ImageBuilder;

TEST(ImageMountTable, StatfsTakesTheLongestWholeComponentPrefix) {
  ImageBuilder image;
  image.mount({.on = "/", .from = "/dev/disk3s1s1", .type = "apfs", .blockSize = 4096, .blocks = 100, .freeBlocks = 1});
  image.mount({.on = "/Volumes/Data", .from = "/dev/disk4s1", .type = "hfs", .blockSize = 512, .blocks = 200, .freeBlocks = 2});
  image.mount({.on = "/Volumes/Data/Inner", .from = "/dev/disk5s1", .type = "msdos", .blocks = 300});
  image.mount({.on = "/Volumes/DataX/", .from = "/dev/disk6s1", .type = "exfat", .blocks = 400});
  // Mounted over the one before: the later mount on a folder is the one that answers.
  image.mount({.on = "/Volumes/Data/Inner", .from = "/dev/disk7s1", .type = "apfs", .blocks = 500});
  image.file("/Volumes/Data/file.txt", "x");
  image.file("/Volumes/DataY/file.txt", "y");
  image.file("/Volumes/DataX/deep/er/file", "z");
  testing::TempDir dir;
  image.write(dir.path());
  // Binary machine.plist files load as well as XML ones.
  testing::writeFile(dir.path() / "machine.plist", writeBinaryPlist(image.machinePlist()));
  std::filesystem::create_directory_symlink("../Volumes/Data/Inner", dir.path() / "root/tmp/inner-link");
  std::filesystem::create_directory_symlink("/", dir.path() / "root/tmp/host-root");
  LoadResult loaded = loadMachine(dir.str());
  ASSERT_NE(loaded.machine, nullptr) << loaded.error;
  MountTable& table = loaded.machine->mountTable();

  const struct {
    const char* path;
    std::optional<std::uint64_t> blocks;  // which mount answers; nothing when statfs fails
  } cases[] = {
      {"/tmp", 100},
      {"/Volumes/Data/", 200},
      {"/Volumes/Data/Inner", 500},
      {"/Volumes/Data/Inner/../file.txt", 200},
      {"/Volumes/DataX", 400},
      {"/Volumes/DataX/deep/er/file", 400},
      {"/Volumes/DataY/file.txt", 100},  // "/Volumes/Data" is not a prefix of "/Volumes/DataY"
      {"/tmp/inner-link", 500},          // found where the link leads
      {"/Volumes/Data/missing", std::nullopt},
      {"/Volumes/Data/file.txt/x", std::nullopt},
      {"/Volumes/../../Volumes/Data", std::nullopt},
      {"/tmp/host-root/etc", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) {
    auto figures = table.statfs(c.path);
    EXPECT_EQ(figures ? std::optional(figures->blocks) : std::nullopt, c.blocks) << c.path;
  }
  auto data = table.statfs("/Volumes/Data");
  EXPECT_TRUE(data && data->blockSize == 512u && data->freeBlocks == 2u);

  // The scan gives the entries in table order, names as raw bytes, until the visitor says stop.
  std::vector<std::string> seen;
  EXPECT_TRUE(table.scan([&](const MountEntryView& entry) {
    seen.push_back(std::string(entry.mountedOn) + " " + std::string(entry.mountedFrom) + " " + std::string(entry.type));
    return entry.type == "msdos";
  }));
  EXPECT_EQ(seen, (std::vector<std::string>{"/ /dev/disk3s1s1 apfs", "/Volumes/Data /dev/disk4s1 hfs",
                                            "/Volumes/Data/Inner /dev/disk5s1 msdos"}));
}

TEST(ImageMountTable, StatfsFailsWithoutAMountAtTheTop) {
  ImageBuilder image;
  image.mount({.on = "/Volumes/Data", .from = "/dev/disk4s1", .type = "hfs"});
  testing::ScopedMachine machine(image);
  EXPECT_EQ(current()->mountTable().statfs("/tmp"), std::nullopt);
  EXPECT_TRUE(current()->mountTable().statfs("/Volumes/Data").has_value());
}

}  // namespace
}  // namespace strandel::platform::image
