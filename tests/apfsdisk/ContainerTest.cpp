#include "apfsdisk/Container.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <regex>
#include <sstream>

#include "apfsdisk/Layout.hpp"
#include "base/FileBytes.hpp"
#include "tests/support/ApfsFixture.hpp"
#include "tests/support/Paths.hpp"
#include "tests/support/TempDir.hpp"

namespace strandel::apfsdisk {
namespace {

std::string macosImage() {
  std::string dir = testing::realWorldDir();
  return dir.empty() ? "" : dir + "/disk-images/apfs-container_hdiutil_one-volume.raw";
}

// What fsapfsinfo says of a container: its UUID, then each volume's UUID and name, lower case. It
// holds our fixture writer and reader to a third reading, since both share our idea of the layout.
std::vector<std::string> oracleFigures(const std::string& path) {
  auto run = testing::runCommand("fsapfsinfo '" + path + "' 2>/dev/null");
  std::vector<std::string> figures;
  std::regex line(R"(^\s*(Identifier|Name)\s*:\s*(.*)$)");
  std::smatch match;
  std::istringstream in(run.out);
  for (std::string text; std::getline(in, text);)
    if (std::regex_match(text, match, line)) figures.push_back(match[2]);
  return figures;
}

std::vector<std::string> ourFigures(const Container& c) {
  auto lower = [](std::string s) {
    for (char& ch : s) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return s;
  };
  std::vector<std::string> figures{lower(c.uuid)};
  for (const Volume& v : c.volumes) {
    figures.push_back(lower(v.uuid));
    figures.push_back(v.name);
  }
  return figures;
}

bool haveFsapfsinfo() { return testing::runCommand("command -v fsapfsinfo >/dev/null").status == 0; }

TEST(ApfsContainer, readsTheContainerMacosWrote) {
  std::string path = macosImage();
  if (path.empty()) GTEST_SKIP() << "no ../shared/real-world beside the checkout";
  auto source = openFileSource(path);
  ASSERT_TRUE(source);
  auto result = readContainer(*source);
  ASSERT_TRUE(result.container) << result.error;
  const Container& c = *result.container;
  EXPECT_EQ(c.uuid, "D08A9FA0-D5A5-458B-813E-EBF9BF5D5338");
  EXPECT_EQ(c.blockSize, 4096u);
  ASSERT_EQ(c.volumes.size(), 1u);
  EXPECT_EQ(c.volumes[0].name, "apfs_test");
  EXPECT_EQ(c.volumes[0].uuid, "458ED10D-8AC3-4AF1-8DFD-3954D151A3F3");
  EXPECT_EQ(c.volumes[0].role, kRoleNone);
  EXPECT_FALSE(c.volumes[0].caseSensitive);
  EXPECT_FALSE(c.volumes[0].encrypted);
  ASSERT_TRUE(c.freeBlocks);
  EXPECT_LT(*c.freeBlocks, c.blockCount);
}

TEST(ApfsContainer, readsFixturesWithRolesAsFsapfsinfoDoes) {
  if (!testing::haveMkapfs()) GTEST_SKIP() << "mkapfs is not installed";
  testing::TempDir dir;
  std::string path = dir.str() + "/container.img";
  testing::writeFile(path, "");
  ASSERT_EQ(::truncate(path.c_str(), 128 << 20), 0);
  const std::vector<testing::FixtureVolume> volumes = {
      {"Macintosh HD", "0A000000-0000-4000-8000-000000000001", kRoleSystem},
      {"Macintosh HD - Data", "0A000000-0000-4000-8000-000000000002", kRoleData},
      {"Preboot", "0A000000-0000-4000-8000-000000000003", kRolePreboot},
      {"Recovery", "0A000000-0000-4000-8000-000000000004", kRoleRecovery},
      {"VM", "0A000000-0000-4000-8000-000000000005", kRoleVM},
  };
  ASSERT_EQ(testing::makeApfsFixture(path, volumes), "");
  auto result = readContainer(*openFileSource(path));
  ASSERT_TRUE(result.container) << result.error;
  ASSERT_EQ(result.container->volumes.size(), volumes.size());
  for (std::size_t i = 0; i < volumes.size(); ++i) {
    EXPECT_EQ(result.container->volumes[i].name, volumes[i].name);
    EXPECT_EQ(result.container->volumes[i].uuid, volumes[i].uuid);
    EXPECT_EQ(result.container->volumes[i].role, volumes[i].role);
  }
  if (haveFsapfsinfo()) {
    EXPECT_EQ(ourFigures(*result.container), oracleFigures(path));
  }
}

// Hostile containers made from the one macOS wrote: each change keeps every checksum right
// (unless the change is to the checksum), so the reader must see through the structure itself.
void putLe(std::string& bytes, std::size_t at, std::uint64_t value, int width) {
  for (int i = 0; i < width; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
}

std::span<const std::byte> blockBytes(const std::string& bytes, std::uint64_t block) {
  return {reinterpret_cast<const std::byte*>(bytes.data()) + block * 4096, 4096};
}

void resum(std::string& bytes, std::uint64_t block) {
  putLe(bytes, block * 4096, objectChecksum(blockBytes(bytes, block)), 8);
}

TEST(ApfsContainer, refusesHostileContainersInBoundedTime) {
  std::string path = macosImage();
  if (path.empty()) GTEST_SKIP() << "no ../shared/real-world beside the checkout";
  const std::string good = base::readFileBytes(path, 64 << 20).bytes;
  ASSERT_FALSE(good.empty());
  // The block of the container object map's root node, as block 0 leads to it.
  const std::uint64_t root = Block(blockBytes(good, Block(blockBytes(good, 0)).u64(kNxOmapOid))).u64(kOmTreeOid);
  // Every superblock copy of the container, so a change reaches the one the reader picks.
  auto everySuperblock = [&](std::string& bytes, const std::function<void(std::size_t)>& change) {
    for (std::uint64_t b = 0; b < bytes.size() / 4096; ++b) {
      Block view(blockBytes(bytes, b));
      if (view.objectType() != kObjectTypeNxSuperblock || !view.checksumValid()) continue;
      change(b * 4096);
      resum(bytes, b);
    }
  };
  const std::vector<std::pair<std::string, std::function<void(std::string&)>>> cases = {
      {"bad checksums",
       [&](std::string& b) {
         std::vector<std::size_t> superblocks;
         everySuperblock(b, [&](std::size_t at) { superblocks.push_back(at); });
         for (std::size_t at : superblocks) b[at + 1] ^= 1;
       }},
      {"block size not a power of two",
       [&](std::string& b) { everySuperblock(b, [&](std::size_t at) { putLe(b, at + kNxBlockSize, 5000, 4); }); }},
      {"no block count",
       [&](std::string& b) { everySuperblock(b, [&](std::size_t at) { putLe(b, at + kNxBlockCount, 0, 8); }); }},
      {"object map past the end",
       [&](std::string& b) { everySuperblock(b, [&](std::size_t at) { putLe(b, at + kNxOmapOid, 1ull << 40, 8); }); }},
      {"volume missing from the map",
       [&](std::string& b) { everySuperblock(b, [&](std::size_t at) { putLe(b, at + kNxFsOid, 999999, 8); }); }},
      {"key count past the end",
       [&](std::string& b) {
         putLe(b, root * 4096 + kBtnNkeys, 0xFFFFFFFF, 4);
         resum(b, root);
       }},
      {"table of contents past the block",
       [&](std::string& b) {
         putLe(b, root * 4096 + kBtnTableSpaceOffset, 0xFFF0, 2);
         resum(b, root);
       }},
      {"object map in a loop",
       [&](std::string& b) {
         // The root claims to be an index node whose every child is itself.
         putLe(b, root * 4096 + kBtnFlags, kBtnodeRoot | kBtnodeFixedKvSize, 2);
         putLe(b, root * 4096 + kBtnLevel, 1, 2);
         for (std::size_t at = 4096 - 40 - 16; at >= 4096 - 40 - 64; at -= 8) putLe(b, root * 4096 + at, root, 8);
         resum(b, root);
       }},
  };
  ASSERT_NE(root, 0u);
  for (const auto& [what, change] : cases) {
    std::string bytes = good;
    change(bytes);
    auto result = readContainer(*memorySource(bytes));
    EXPECT_FALSE(result.container) << what;
    EXPECT_FALSE(result.error.empty()) << what;
  }
}

}  // namespace
}  // namespace strandel::apfsdisk
