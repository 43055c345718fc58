#include <gtest/gtest.h>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

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

// Reading, creating, removing and running: each goes through the same resolution, and none
// follows a link out of the root.
TEST_F(ImageFiles, ServicesReachNothingOutsideTheRoot) {
  Files& files = machine_->files();
  EXPECT_EQ(files.readPlistFile("/Library/tm.plist"), readPlist(kPlist));
  for (const char* path : {"/Library/up.plist", "/Library/abs.plist", "/../outside.plist", "/a/b/file", "/a/b"}) {
    EXPECT_EQ(files.readPlistFile(path), std::nullopt) << path;
  }
  Processes& processes = machine_->processes();
  for (const char* tool : {"/usr/bin/escape", "/usr/bin/sh", "/../outside-tool", "/usr/bin/missing", "usr/bin/echoargs", ""}) {
    EXPECT_EQ(processes.runTool({.tool = tool, .arguments = {}}), std::nullopt) << tool;
    EXPECT_FALSE(processes.runToolToFile({.tool = tool, .arguments = {}}, 1)) << tool;
  }
  EXPECT_EQ(processes.openShell("/usr/bin/escape"), nullptr);
  EXPECT_EQ(processes.openShell("/bin/sh -c 'echo host'"), nullptr);

  UniqueFd fd = files.createExclusive("/tmp/vxp20FDAtemp.temp");
  ASSERT_TRUE(fd.valid());
  struct stat info;
  ASSERT_EQ(::stat((dir_.path() / "root/tmp/vxp20FDAtemp.temp").c_str(), &info), 0);
  EXPECT_TRUE(S_ISREG(info.st_mode) && (info.st_mode & 0777) == 0600);
  EXPECT_EQ(::fcntl(fd.get(), F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
  // A link planted where the file goes is replaced; the file it points at is left alone.
  EXPECT_TRUE(files.createExclusive("/Library/abs.plist").valid());
  EXPECT_FALSE(fs::is_symlink(dir_.path() / "root/Library/abs.plist"));
  EXPECT_FALSE(files.createExclusive("/../x.temp").valid());
  EXPECT_FALSE(files.createExclusive("/Library/up.plist/../x.temp").valid());
  EXPECT_FALSE(fs::exists(dir_.path() / "x.temp"));

  EXPECT_TRUE(files.remove("/Library/up.plist"));
  EXPECT_FALSE(fs::exists(fs::symlink_status(dir_.path() / "root/Library/up.plist")));
  EXPECT_TRUE(files.remove("/a/b/file"));
  EXPECT_FALSE(files.remove("/a/b/file"));
  EXPECT_FALSE(files.remove("/../outside.plist"));
  EXPECT_FALSE(files.remove("/a/b"));
  EXPECT_EQ(testing::readFile(dir_.path() / "outside.plist"), kPlist);
}

TEST_F(ImageFiles, UserNameComesFromTheImageElseTheHost) {
  EXPECT_EQ(machine_->files().userName(), "lena");
  testing::TempDir plain;
  ImageBuilder().write(plain.path());
  LoadResult loaded = loadMachine(plain.str());
  ASSERT_NE(loaded.machine, nullptr) << loaded.error;
  struct passwd* entry = ::getpwuid(::geteuid());
  if (!entry) GTEST_SKIP() << "this host has no account entry for its user";
  EXPECT_EQ(loaded.machine->files().userName(), entry->pw_name);
}

TEST_F(ImageFiles, ToolsInsideTheRootRunWithTheirArgumentsUnchanged) {
  Processes& processes = machine_->processes();
  auto run = [&](const char* tool, std::vector<std::string> arguments) {
    auto output = processes.runTool({.tool = tool, .arguments = std::move(arguments)});
    return output ? output->bytes : "(not run)";
  };
  EXPECT_EQ(run("/usr/bin/echoargs", {"/Volumes/A B", "-plist", ""}), "/Volumes/A B|-plist||");
  EXPECT_EQ(run("/a/tool-link", {"x"}), "x|");

  // The shell line keeps everything after the tool's own path as it was written.
  auto firstPiece = [&](std::string_view commandLine) {
    auto stream = processes.openShell(commandLine);
    char buffer[256];
    auto length = stream ? stream->readPiece(buffer, sizeof buffer) : std::nullopt;
    return length ? std::string(buffer, *length) : "(nothing)";
  };
  const char* home = std::getenv("HOME");
  EXPECT_EQ(firstPiece("/usr/bin/echoargs verifyVolume 'Macintosh HD' \"$HOME\"x"),
            "verifyVolume|Macintosh HD|" + std::string(home ? home : "") + "x|");
  EXPECT_EQ(firstPiece("echo plain"), "plain\n");
}

}  // namespace
}  // namespace strandel::platform::image
