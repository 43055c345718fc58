#include <gtest/gtest.h>

#include <filesystem>

#include "platform/image/ImageMachine.hpp"
#include "platform/image/RootPaths.hpp"
#include "tests/support/ImageBuilder.hpp"
#include "tests/support/TempDir.hpp"

namespace strandel::platform::image {
namespace {

namespace fs = std::filesystem;
using testing::ImageBuilder;

const std::string kPlist = writeXmlPlist(PlistDict{{"LocalizedDiskImageVolumeName", PlistValue("Backups of Mac")}});

// An image folder with a property list and a tool inside root/, the same outside it (beside
// root/, where no path of the image may reach), and links of every kind pointing at both.
class ImageFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    ImageBuilder image;
    image.userName("lena");
    image.file("/Library/Preferences/com.apple.TimeMachine.plist", kPlist);
    image.tool("/usr/bin/echoargs", "#!/bin/sh\nprintf '%s|' \"$@\"\n");
    image.file("/a/b/file", "inside");
    image.write(dir_.path());
    testing::writeFile(dir_.path() / "outside.plist", kPlist);
    testing::writeFile(dir_.path() / "outside-tool", "#!/bin/sh\necho outside\n", 0755);
    fs::path root = dir_.path() / "root";
    fs::create_symlink("../../outside.plist", root / "Library/up.plist");         // climbs out
    fs::create_symlink((dir_.path() / "outside.plist").string(), root / "Library/abs.plist");  // absolute
    fs::create_symlink("Preferences/com.apple.TimeMachine.plist", root / "Library/tm.plist");  // stays inside
    fs::create_symlink("../usr/bin/echoargs", root / "a/tool-link");
    fs::create_symlink("../../../outside-tool", root / "usr/bin/escape");
    fs::create_symlink("/bin/sh", root / "usr/bin/sh");
    fs::create_symlink("loop", root / "a/loop");
    fs::create_directory_symlink("b", root / "a/c");
    LoadResult loaded = loadMachine(dir_.str());
    ASSERT_NE(loaded.machine, nullptr) << loaded.error;
    machine_ = loaded.machine;
    root_ = fs::canonical(root).string();
  }

  testing::TempDir dir_;
  std::shared_ptr<Machine> machine_;
  std::string root_;
};

TEST_F(ImageFiles, PathsResolveInsideTheRootOrNotAtAll) {
  constexpr LastLink follow = LastLink::Follow, keep = LastLink::Keep;
  const struct {
    const char* path;
    LastLink last;
    const char* image;  // the path on the imaged machine; nullptr: does not exist
  } cases[] = {
      {"/", follow, "/"},
      {"a/b/file", follow, "/a/b/file"},
      {"//a/./b//file", follow, "/a/b/file"},
      {"/a/c/file", follow, "/a/b/file"},
      {"/a/c/../b/file", follow, "/a/b/file"},
      {"/Library/tm.plist", follow, "/Library/Preferences/com.apple.TimeMachine.plist"},
      {"/a/tool-link", follow, "/usr/bin/echoargs"},
      {"/a/b/file/x", follow, nullptr},
      {"/a/missing", follow, nullptr},
      {"/..", follow, nullptr},
      {"/../root/a/b/file", follow, nullptr},
      {"/a/../../outside.plist", follow, nullptr},
      {"/Library/up.plist", follow, nullptr},
      {"/Library/abs.plist", follow, nullptr},
      {"/usr/bin/sh", follow, nullptr},
      {"/a/loop", follow, nullptr},
      {"", follow, nullptr},
      // Keep: the last component is not followed and need not exist; its folder must.
      {"/Library/abs.plist", keep, "/Library/abs.plist"},
      {"/tmp/new.temp", keep, "/tmp/new.temp"},
      {"/a/c/new", keep, "/a/b/new"},
      {"/a/b/file/new", keep, nullptr},
      {"/nowhere/new", keep, nullptr},
      {"/Library/up.plist/..", keep, nullptr},
      {"/", keep, nullptr},
  };
  for (const auto& c : cases) {
    auto found = resolveInRoot(root_, c.path, c.last);
    EXPECT_EQ(found ? found->imagePath : "-", c.image ? c.image : "-") << c.path;
    EXPECT_TRUE(!found || found->hostPath == (c.image == std::string("/") ? root_ : root_ + c.image)) << c.path;
  }
}

// Reading, creating, removing and running all go through that resolution: none reaches out of
// the root. (What they do inside it, the probe and tool tests of system/ and apfs/ check.)
TEST_F(ImageFiles, ServicesReachNothingOutsideTheRoot) {
  Files& files = machine_->files();
  Processes& processes = machine_->processes();
  EXPECT_EQ(files.readPlistFile("/Library/tm.plist"), readPlist(kPlist));
  EXPECT_EQ(files.readPlistFile("/Library/up.plist"), std::nullopt);
  EXPECT_EQ(files.readPlistFile("/../outside.plist"), std::nullopt);
  for (const char* tool : {"/usr/bin/escape", "/usr/bin/sh", "/../outside-tool", "usr/bin/echoargs", ""}) {
    EXPECT_EQ(processes.runTool({.tool = tool, .arguments = {}}), std::nullopt) << tool;
    EXPECT_FALSE(processes.runToolToFile({.tool = tool, .arguments = {}}, 1)) << tool;
  }
  EXPECT_EQ(processes.openShell("/usr/bin/escape x"), nullptr);
  EXPECT_EQ(processes.openShell("/bin/sh -c 'echo host'"), nullptr);
  EXPECT_FALSE(files.createExclusive("/Library/up.plist/../x.temp").valid());
  EXPECT_FALSE(fs::exists(dir_.path() / "x.temp"));
  EXPECT_TRUE(files.createExclusive("/Library/abs.plist").valid());  // the link, not its target
  EXPECT_TRUE(files.remove("/Library/up.plist"));
  EXPECT_FALSE(files.remove("/../outside.plist"));
  EXPECT_EQ(testing::readFile(dir_.path() / "outside.plist"), kPlist);
  EXPECT_EQ(files.userName(), "lena");
}

}  // namespace
}  // namespace strandel::platform::image
