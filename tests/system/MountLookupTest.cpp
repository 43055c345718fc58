#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include <strandel/Strandel.hpp>

#include "platform/Machine.hpp"
#include "tests/support/ImageBuilder.hpp"
#include "tests/support/TempDir.hpp"

namespace strandel {
namespace {

using testing::ImageBuilder;
using testing::ScopedMachine;

// A Catalina machine's table (from its `mount`), with the traps of the lookups added: a slice
// listed before a shorter slice name, a whole disk, a network share, an automounter map.
ImageBuilder catalinaTable() {
  ImageBuilder image;
  image.mount({.on = "/", .from = "/dev/disk1s5", .type = "apfs"});
  image.mount({.on = "/dev", .from = "devfs", .type = "devfs"});
  image.mount({.on = "/System/Volumes/Data", .from = "/dev/disk1s1", .type = "apfs"});
  image.mount({.on = "/private/var/vm", .from = "/dev/disk1s4", .type = "apfs"});
  image.mount({.on = "/System/Volumes/Data/home", .from = "map auto_home", .type = "autofs"});
  image.mount({.on = "/Volumes/Recovery", .from = "/dev/disk1s3", .type = "apfs"});
  image.mount({.on = "/Volumes/KINGSTON", .from = "/dev/disk2s1", .type = "ntfs"});
  image.mount({.on = "/Volumes/Mirth Connect Administrator Launcher", .from = "/dev/disk4", .type = "hfs"});
  image.mount({.on = "/Volumes/video", .from = "//riccardo@1.0.1.10/video", .type = "afpfs"});
  image.mount({.on = "/Volumes/Café Photos", .from = "/dev/disk5s1", .type = "apfs"});
  return image;
}

TEST(MountLookup, FromMountPoint) {
  ScopedMachine machine(catalinaTable());
  struct Case {
    std::optional<std::string_view> mountPoint;
    const char* from;
  } cases[] = {
      {"/", "/dev/disk1s5"},
      {"/dev", "devfs"},
      {"/System/Volumes/Data", "/dev/disk1s1"},
      {"/System/Volumes/Data/home", "map auto_home"},
      {"/Volumes/video", "//riccardo@1.0.1.10/video"},
      {"/Volumes/Mirth Connect Administrator Launcher", "/dev/disk4"},
      {"/Volumes/Café Photos", "/dev/disk5s1"},
      // Equality is literal: no trailing "/", no folder inside, no case folding, no
      // Unicode normalisation (the decomposed é is another text).
      {"/System/Volumes/Data/", ""},
      {"/System/Volumes/Data/Users", ""},
      {"/system/volumes/data", ""},
      {"/Volumes/Cafe\xCC\x81 Photos", ""},
      {"", ""},
      {"/Volumes/Nowhere", ""},
      {std::nullopt, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(getVolumeMountFromName(c.mountPoint), c.from) << c.mountPoint.value_or("(absent)");
}

TEST(MountLookup, OnDevice) {
  ScopedMachine machine(catalinaTable());
  struct Case {
    std::optional<std::string_view> device;
    const char* on;
  } cases[] = {
      {"disk1s5", "/"},
      {"/dev/disk1s5", "/"},
      {"disk2s1", "/Volumes/KINGSTON"},
      {"/dev/disk2s1", "/Volumes/KINGSTON"},
      // A whole-disk name finds its first mounted slice in table order.
      {"disk1", "/"},
      {"disk2", "/Volumes/KINGSTON"},
      {"disk4", "/Volumes/Mirth Connect Administrator Launcher"},
      // "" and "/dev/" both test with the device path "/dev/": the first disk mount.
      {"", "/"},
      {"/dev/", "/"},
      // Not device paths, found by substring.
      {"auto_home", "/System/Volumes/Data/home"},
      {"1.0.1.10/video", "/Volumes/video"},
      {"riccardo@1.0.1.10", "/Volumes/video"},
      {"devfs", "/dev"},
      // Not mounted, or absent.
      {"disk3", ""},
      {"disk1s9", ""},
      {"/dev/rdisk1s5", ""},
      {"DISK1S5", ""},
      {std::nullopt, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(getVolumeMountOnName(c.device), c.on) << c.device.value_or("(absent)");
}

TEST(MountLookup, ASliceNameAlsoFindsALongerSliceListedBeforeIt) {
  ImageBuilder image;
  image.mount({.on = "/Volumes/Ten", .from = "/dev/disk1s10", .type = "apfs"});
  image.mount({.on = "/", .from = "/dev/disk1s1", .type = "apfs"});
  image.mount({.on = "/Volumes/Eleven", .from = "/dev/disk11s1", .type = "apfs"});
  ScopedMachine machine(image);
  EXPECT_EQ(getVolumeMountOnName("disk1s1"), "/Volumes/Ten");
  EXPECT_EQ(getVolumeMountOnName("/dev/disk1s1"), "/Volumes/Ten");
  EXPECT_EQ(getVolumeMountOnName("disk1"), "/Volumes/Ten");
  EXPECT_EQ(getVolumeMountOnName("disk11"), "/Volumes/Eleven");
  // A mount point lookup is exact, so it tells them apart.
  EXPECT_EQ(getVolumeMountFromName("/"), "/dev/disk1s1");
  EXPECT_EQ(getVolumeMountFromName("/Volumes/Ten"), "/dev/disk1s10");
}

TEST(MountLookup, TheFirstEntryOfAMountPointDecides) {
  // A file system mounted over another on the same folder: the table keeps both.
  ImageBuilder image;
  image.mount({.on = "/Volumes/Data", .from = "/dev/disk2s1", .type = "hfs"});
  image.mount({.on = "/Volumes/Data", .from = "/dev/disk3s1", .type = "apfs"});
  ScopedMachine machine(image);
  EXPECT_EQ(getVolumeMountFromName("/Volumes/Data"), "/dev/disk2s1");
  EXPECT_EQ(getVolumeMountOnName("disk3s1"), "/Volumes/Data");
}

TEST(MountLookup, AnEmptyTableAnswersNothing) {
  ScopedMachine machine(ImageBuilder{});
  EXPECT_EQ(getVolumeMountFromName("/"), "");
  EXPECT_EQ(getVolumeMountOnName("disk1s1"), "");
  EXPECT_EQ(getVolumeMountOnName(""), "");
}

// Names that are not UTF-8 reach an image as data; the builder writes only strings, so the
// machine.plist is edited here.
class NonUtf8Table : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = platform::current();
    ImageBuilder image;
    image.mount({.on = "/", .from = "/dev/disk1s1", .type = "apfs"});
    image.mount({.on = "/Volumes/bad", .from = "/dev/disk2s1", .type = "msdos"});
    image.mount({.on = "/Volumes/badsource", .from = "/dev/disk3s1", .type = "msdos"});
    image.mount({.on = "/Volumes/after", .from = "/dev/disk2s1", .type = "msdos"});
    image.write(dir_.path());
    PlistValue top = image.machinePlist();
    PlistArray& mounts = *top.asDictionary()->at("Mounts").asArray();
    auto bytes = [](std::string_view text) { return PlistValue(PlistData{{text.begin(), text.end()}}); };
    // Latin-1 "é" (0xE9) alone is not UTF-8.
    (*mounts[1].asDictionary())["f_mntonname"] = bytes("/Volumes/Caf\xE9");
    (*mounts[2].asDictionary())["f_mntfromname"] = bytes("/dev/disk3s1\xFF");
    testing::writeFile(dir_.path() / "machine.plist", writeXmlPlist(top));
    std::filesystem::create_directories(dir_.path() / "root/Volumes/Caf\xE9");
    auto error = useMachine(dir_.str());
    ASSERT_FALSE(error) << *error;
  }
  void TearDown() override { platform::setCurrent(previous_); }

  testing::TempDir dir_;
  std::shared_ptr<platform::Machine> previous_;
};

TEST_F(NonUtf8Table, NamesThatAreNotUtf8MatchNothing) {
  // The mount point that is not UTF-8 is found neither by its bytes nor by a look-alike.
  EXPECT_EQ(getVolumeMountFromName("/Volumes/Caf\xE9"), "");
  EXPECT_EQ(getVolumeMountFromName("/Volumes/Café"), "");
  // Its device is matched, but the mount point it would give is no text: "".
  EXPECT_EQ(getVolumeMountOnName("disk2s1"), "");
  // The source that is not UTF-8 is skipped by the device test: disk3 matches nothing.
  EXPECT_EQ(getVolumeMountOnName("disk3s1"), "");
  EXPECT_EQ(getVolumeMountOnName("disk3"), "");
  // ... and as the answer of its own mount point it is no text either.
  EXPECT_EQ(getVolumeMountFromName("/Volumes/badsource"), "");
  EXPECT_EQ(getVolumeMountFromName("/"), "/dev/disk1s1");
  EXPECT_EQ(getVolumeMountOnName("/dev/disk1s1"), "/");
}

TEST(MountLookup, AnArgumentThatIsNotUtf8MatchesNothing) {
  ImageBuilder image;
  image.mount({.on = "/", .from = "/dev/disk1s1", .type = "apfs"});
  image.mount({.on = "/Volumes/Café", .from = "/dev/disk2s1", .type = "apfs"});
  ScopedMachine machine(image);
  // Half of the "é" of a real mount point: contained in it by bytes, but no text.
  EXPECT_EQ(getVolumeMountOnName("\xC3"), "");
  EXPECT_EQ(getVolumeMountFromName("/Volumes/Caf\xC3"), "");
  EXPECT_EQ(getVolumeMountOnName("disk1s1\xFF"), "");
}

TEST(MountLookup, LookupsOnManyThreadsAgree) {
  ScopedMachine machine(catalinaTable());
  constexpr int kThreads = 8;
  constexpr int kRounds = 200;
  std::vector<int> wrong(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &wrong] {
      for (int i = 0; i < kRounds; ++i) {
        if (getVolumeMountFromName("/Volumes/KINGSTON") != "/dev/disk2s1") ++wrong[t];
        if (getVolumeMountOnName("disk1s4") != "/private/var/vm") ++wrong[t];
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(wrong[t], 0) << "thread " << t;
}

}  // namespace
}  // namespace strandel
