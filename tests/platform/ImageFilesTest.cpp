#include <gtest/gtest.h>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/image/ImageMachine.hpp"
#include "platform/image/RootPaths.hpp"
#include "platform/live/LiveMachine.hpp"
#include "tests/support/ImageBuilder.hpp"
#include "tests/support/TempDir.hpp"

namespace strandel::platform::image {
namespace {

namespace fs = std::filesystem;
using testing::ImageBuilder;

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

ToolRunOptions toolRun(std::string tool, std::vector<std::string> arguments = {}) {
  ToolRunOptions options;
  options.tool = std::move(tool);
  options.arguments = std::move(arguments);
  return options;
}

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
  const struct {
    const char* path;
    LastLink last;
    const char* image;  // the path on the imaged machine; nullptr: does not exist
  } cases[] = {
      {"/", LastLink::Follow, "/"},
      {"/a/b/file", LastLink::Follow, "/a/b/file"},
      {"a/b/file", LastLink::Follow, "/a/b/file"},
      {"//a/./b//file", LastLink::Follow, "/a/b/file"},
      {"/a/c/file", LastLink::Follow, "/a/b/file"},
      {"/a/c/../b/file", LastLink::Follow, "/a/b/file"},
      {"/Library/tm.plist", LastLink::Follow, "/Library/Preferences/com.apple.TimeMachine.plist"},
      {"/a/tool-link", LastLink::Follow, "/usr/bin/echoargs"},
      {"/a/b/file/", LastLink::Follow, nullptr},
      {"/a/b/file/x", LastLink::Follow, nullptr},
      {"/a/missing", LastLink::Follow, nullptr},
      {"/..", LastLink::Follow, nullptr},
      {"/../root/a/b/file", LastLink::Follow, nullptr},
      {"/a/../../outside.plist", LastLink::Follow, nullptr},
      {"/Library/up.plist", LastLink::Follow, nullptr},
      {"/Library/abs.plist", LastLink::Follow, nullptr},
      {"/usr/bin/escape", LastLink::Follow, nullptr},
      {"/usr/bin/sh", LastLink::Follow, nullptr},
      {"/a/loop", LastLink::Follow, nullptr},
      {"", LastLink::Follow, nullptr},
      // Keep: the last component is not followed and need not exist; its folder must.
      {"/Library/abs.plist", LastLink::Keep, "/Library/abs.plist"},
      {"/tmp/new.temp", LastLink::Keep, "/tmp/new.temp"},
      {"/a/c/new", LastLink::Keep, "/a/b/new"},
      {"/a/b/file/new", LastLink::Keep, nullptr},
      {"/nowhere/new", LastLink::Keep, nullptr},
      {"/../new", LastLink::Keep, nullptr},
      {"/Library/up.plist/..", LastLink::Keep, nullptr},
      {"/", LastLink::Keep, nullptr},
  };
  for (const auto& c : cases) {
    auto found = resolveInRoot(root_, c.path, c.last);
    ASSERT_EQ(found.has_value(), c.image != nullptr) << c.path;
    if (!found) continue;
    EXPECT_EQ(found->imagePath, c.image) << c.path;
    EXPECT_EQ(found->hostPath, c.image == std::string("/") ? root_ : root_ + c.image) << c.path;
  }
}

TEST_F(ImageFiles, ReadsPropertyListsOnlyFromInsideTheRoot) {
  Files& files = machine_->files();
  auto expected = readPlist(kPlist);
  EXPECT_EQ(files.readPlistFile("/Library/Preferences/com.apple.TimeMachine.plist"), expected);
  EXPECT_EQ(files.readPlistFile("/Library/tm.plist"), expected);
  EXPECT_EQ(files.readPlistFile("/Library/up.plist"), std::nullopt);
  EXPECT_EQ(files.readPlistFile("/Library/abs.plist"), std::nullopt);
  EXPECT_EQ(files.readPlistFile("/../outside.plist"), std::nullopt);
  EXPECT_EQ(files.readPlistFile("/Library/../../outside.plist"), std::nullopt);
  EXPECT_EQ(files.readPlistFile("/a/b/file"), std::nullopt);   // not a property list
  EXPECT_EQ(files.readPlistFile("/a/b"), std::nullopt);        // a folder
  EXPECT_EQ(files.readPlistFile("/Library/none.plist"), std::nullopt);
}

TEST_F(ImageFiles, CreateExclusiveReplacesWhateverIsThereWithoutFollowingIt) {
  Files& files = machine_->files();
  {
    UniqueFd fd = files.createExclusive("/tmp/vxp20FDAtemp.temp");
    ASSERT_TRUE(fd.valid());
    struct stat info;
    ASSERT_EQ(::stat((dir_.path() / "root/tmp/vxp20FDAtemp.temp").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_EQ(::fcntl(fd.get(), F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
    ::close(fd.release());
  }
  // A link planted where the file goes is replaced; the file it points at is left alone.
  {
    UniqueFd fd = files.createExclusive("/Library/abs.plist");
    ASSERT_TRUE(fd.valid());
    ::close(fd.release());
    EXPECT_FALSE(fs::is_symlink(dir_.path() / "root/Library/abs.plist"));
    EXPECT_EQ(readFile(dir_.path() / "outside.plist"), kPlist);
  }
  EXPECT_FALSE(files.createExclusive("/nowhere/x.temp").valid());
  EXPECT_FALSE(files.createExclusive("/../x.temp").valid());
  EXPECT_FALSE(files.createExclusive("/Library/up.plist/../x.temp").valid());
  EXPECT_FALSE(fs::exists(dir_.path() / "x.temp"));
}

TEST_F(ImageFiles, RemoveTakesTheLinkNotItsTarget) {
  Files& files = machine_->files();
  EXPECT_TRUE(files.remove("/Library/up.plist"));
  EXPECT_FALSE(fs::exists(fs::symlink_status(dir_.path() / "root/Library/up.plist")));
  EXPECT_TRUE(fs::exists(dir_.path() / "outside.plist"));
  EXPECT_TRUE(files.remove("/a/b/file"));
  EXPECT_FALSE(files.remove("/a/b/file"));
  EXPECT_FALSE(files.remove("/../outside.plist"));
  EXPECT_FALSE(files.remove("/a/b"));
  EXPECT_TRUE(fs::exists(dir_.path() / "outside.plist"));
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

TEST_F(ImageFiles, ToolsOutsideTheRootCanNotBeStarted) {
  Processes& processes = machine_->processes();
  for (const char* tool : {"/usr/bin/escape", "/usr/bin/sh", "/../outside-tool", "/usr/bin/../../outside-tool",
                           "/usr/bin/missing", "usr/bin/echoargs", ""}) {
    EXPECT_EQ(processes.runTool(toolRun(tool)), std::nullopt) << tool;
    EXPECT_FALSE(processes.runToolToFile(toolRun(tool), 1)) << tool;
  }
  EXPECT_EQ(processes.openShell("/usr/bin/escape"), nullptr);
  EXPECT_EQ(processes.openShell("/bin/sh -c 'echo host'"), nullptr);
}

TEST_F(ImageFiles, ToolsInsideTheRootRunWithTheirArgumentsUnchanged) {
  if (!live::makeHostProcesses()) GTEST_SKIP() << "this host starts no processes yet";
  Processes& processes = machine_->processes();
  auto output = processes.runTool(toolRun("/usr/bin/echoargs", {"/Volumes/A B", "-plist", ""}));
  ASSERT_TRUE(output.has_value());
  EXPECT_EQ(output->bytes, "/Volumes/A B|-plist||");
  output = processes.runTool(toolRun("/a/tool-link", {"x"}));
  ASSERT_TRUE(output.has_value());
  EXPECT_EQ(output->bytes, "x|");

  // The shell line keeps everything after the tool's own path as it was written.
  auto stream = processes.openShell("/usr/bin/echoargs verifyVolume 'Macintosh HD' \"$HOME\"x");
  ASSERT_NE(stream, nullptr);
  char buffer[256];
  auto length = stream->readPiece(buffer, sizeof buffer);
  ASSERT_TRUE(length.has_value());
  std::string expected = "verifyVolume|Macintosh HD|" + std::string(std::getenv("HOME") ? std::getenv("HOME") : "") + "x|";
  EXPECT_EQ(std::string(buffer, *length), expected);
  stream = processes.openShell("echo plain");
  ASSERT_NE(stream, nullptr);
  length = stream->readPiece(buffer, sizeof buffer);
  ASSERT_TRUE(length.has_value());
  EXPECT_EQ(std::string(buffer, *length), "plain\n");
}

}  // namespace
}  // namespace strandel::platform::image
