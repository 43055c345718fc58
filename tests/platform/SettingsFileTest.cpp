#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include <strandel/Machine.hpp>

#include "platform/HostServices.hpp"
#include "platform/ProgramName.hpp"
#include "platform/live/LiveMachine.hpp"
#include "tests/platform/PrivateMounts.hpp"
#include "tests/support/TempDir.hpp"

namespace strandel::platform {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using testing::readFile;
using testing::writeFile;

std::vector<std::string> filesIn(const fs::path& dir) {
  std::vector<std::string> out;
  for (const auto& entry : fs::directory_iterator(dir)) out.push_back(entry.path().filename().string());
  std::sort(out.begin(), out.end());
  return out;
}

// Sets an environment variable (nullptr: unsets it) for the life of the value, then puts the old value back.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    value ? ::setenv(name, value, 1) : ::unsetenv(name);
  }
  ~ScopedEnv() { old_ ? ::setenv(name_, old_->c_str(), 1) : ::unsetenv(name_); }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(SettingsFile, StoresValuesThatAnotherStoreReadsBack) {
  TempDir dir;
  std::string path = (dir.path() / "nested" / "folders" / "app.plist").string();
  auto settings = makeFileSettings(path);
  EXPECT_EQ(settings->get("ZVCurrentSWVersDict"), std::nullopt);
  PlistDict report{{"ProductName", PlistValue("Mac OS X")}, {"ProductVersion", PlistValue("10.14.6")}};
  ASSERT_TRUE(settings->set("ZVCurrentSWVersDict", PlistValue(report)));
  ASSERT_TRUE(settings->set("Empty", PlistValue("")));
  auto other = makeFileSettings(path);
  EXPECT_EQ(other->get("ZVCurrentSWVersDict"), PlistValue(report));
  EXPECT_EQ(other->get("Empty"), PlistValue(""));
  EXPECT_EQ(other->get("Missing"), std::nullopt);

  // The file is an XML property list, and the folders made for it are the user's alone.
  EXPECT_TRUE(readFile(path).starts_with("<?xml"));
  struct stat folder, file;
  ASSERT_EQ(::stat((dir.path() / "nested").c_str(), &folder) | ::stat(path.c_str(), &file), 0);
  EXPECT_EQ(folder.st_mode & 0777, 0700u);
  EXPECT_EQ(file.st_mode & 0777, 0600u);
}

TEST(SettingsFile, ReadCacheNoticesWritesOfOthers) {
  TempDir dir;
  std::string path = (dir.path() / "app.plist").string();
  auto reader = makeFileSettings(path);
  auto writer = makeFileSettings(path);
  EXPECT_EQ(reader->get("key"), std::nullopt);  // cached: no file
  ASSERT_TRUE(writer->set("key", PlistValue("one")));
  EXPECT_EQ(reader->get("key"), PlistValue("one"));
  // Edited in place by someone else, same size: a new modification time still tells.
  writeFile(path, writeXmlPlist(PlistValue(PlistDict{{"key", PlistValue("six")}})));
  EXPECT_EQ(reader->get("key"), PlistValue("six"));
  fs::remove(path);
  EXPECT_EQ(reader->get("key"), std::nullopt);
}

TEST(SettingsFile, CorruptFileIsMovedAsideNotOverwritten) {
  TempDir dir;
  fs::path path = dir.path() / "app.plist";
  auto settings = makeFileSettings(path.string());
  // Cut short, not a dictionary, not a property list: each is moved aside before the write,
  // under a name of its own even in the same second.
  std::vector<std::string> damaged = {"<?xml version=\"1.0\"?><plist><dict><key>cut short",
                                      writeXmlPlist(PlistValue(PlistArray{PlistValue(1)})), "[1, 2, 3]"};
  for (const std::string& bytes : damaged) {
    writeFile(path, bytes);
    ASSERT_TRUE(settings->set("key", PlistValue("value"))) << bytes;
  }
  std::vector<std::string> aside;
  for (const std::string& name : filesIn(dir.path())) {
    if (name.starts_with("app.plist.corrupt-")) aside.push_back(readFile(dir.path() / name));
  }
  std::sort(aside.begin(), aside.end());
  std::sort(damaged.begin(), damaged.end());
  EXPECT_EQ(aside, damaged);
  EXPECT_EQ(readPlist(readFile(path)), PlistValue(PlistDict{{"key", PlistValue("value")}}));
}

TEST(SettingsFile, UnusablePlacesRefuseTheWrite) {
  TempDir dir;
  fs::create_directory(dir.path() / "folder.plist");
  writeFile(dir.path() / "file", "x");
  for (const std::string& path : {(dir.path() / "folder.plist").string(), (dir.path() / "file" / "under-a-file.plist").string(),
                                  std::string("/tmp/a\0b", 8)}) {
    EXPECT_FALSE(makeFileSettings(path)->set("k", PlistValue(1))) << path;
  }
}

TEST(SettingsFile, FullDiskLeavesTheOldFileAndNoTemporaryFile) {
  TempDir dir;
  std::string mountPoint = (dir.path() / "small").string();
  testing::expectInPrivateMountNamespace([&]() -> std::string {
    if (::mkdir(mountPoint.c_str(), 0700) != 0) return "mkdir failed";
    if (::mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=64k") != 0) return "skip: mount tmpfs failed";
    std::string path = mountPoint + "/app.plist";
    auto settings = makeFileSettings(path);
    if (!settings->set("kept", PlistValue("old value"))) return "the first write failed";
    std::string before = readFile(path);
    if (settings->set("huge", PlistValue(std::string(1 << 20, 'x')))) return "a write beyond the disk succeeded";
    if (readFile(path) != before) return "the old file changed";
    if (filesIn(mountPoint) != std::vector<std::string>{"app.plist", "app.plist.lock"}) return "a temporary file was left";
    if (makeFileSettings(path)->get("kept") != PlistValue("old value")) return "the old value is gone";
    if (settings->get("huge")) return "the failed value is visible";
    return "";
  });
}

TEST(SettingsFile, FileNamesFollowTheProcessChoiceAndTheEnvironment) {
  const struct {
    const char* xdg;
    const char* home;
    std::string expected;
  } cases[] = {
      {"/xdg/config", "/home/someone", "/xdg/config/strandel/"},
      {"relative/ignored", "/home/someone", "/home/someone/.config/strandel/"},
      {nullptr, "/home/other", "/home/other/.config/strandel/"},
  };
  for (const auto& c : cases) {
    ScopedEnv xdg("XDG_CONFIG_HOME", c.xdg), home("HOME", c.home);
    EXPECT_EQ(defaultSettingsFile(), c.expected + programName() + ".plist") << c.expected;
  }
  ScopedEnv chosen("STRANDEL_SETTINGS", "/from/environment.plist");
  useSettingsFile("");
  EXPECT_EQ(chosenSettingsFile(), "/from/environment.plist");
  useSettingsFile("/from/call.plist");
  EXPECT_EQ(chosenSettingsFile(), "/from/call.plist");
  useSettingsFile("");
  EXPECT_EQ(chosenSettingsFile(), "/from/environment.plist");
}

TEST(SettingsFile, LiveMachineUsesTheFileNamedAtTheTimeOfTheCall) {
  TempDir dir;
  ScopedEnv chosen("STRANDEL_SETTINGS", nullptr), xdg("XDG_CONFIG_HOME", dir.str().c_str());
  auto machine = live::makeLiveMachine();
  ASSERT_TRUE(machine->settings().set("where", PlistValue("default")));
  EXPECT_TRUE(fs::exists(dir.path() / "strandel" / (programName() + ".plist")));
  std::string named = (dir.path() / "named.plist").string();
  useSettingsFile(named);
  EXPECT_EQ(machine->settings().get("where"), std::nullopt);
  ASSERT_TRUE(machine->settings().set("where", PlistValue("named")));
  EXPECT_EQ(makeFileSettings(named)->get("where"), PlistValue("named"));
  useSettingsFile("");
  EXPECT_EQ(machine->settings().get("where"), PlistValue("default"));
}

}  // namespace
}  // namespace strandel::platform
