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

std::vector<fs::path> filesIn(const fs::path& dir) {
  std::vector<fs::path> out;
  for (const auto& entry : fs::directory_iterator(dir)) out.push_back(entry.path().filename());
  std::sort(out.begin(), out.end());
  return out;
}

// Sets an environment variable for the life of the value, then puts the old value back.
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
  EXPECT_EQ(settings->get("ZVCurrentSWVers"), std::nullopt);
  PlistDict report{{"ProductName", PlistValue("Mac OS X")}, {"ProductVersion", PlistValue("10.14.6")}};
  ASSERT_TRUE(settings->set("ZVCurrentSWVers", PlistValue("10.14.6")));
  ASSERT_TRUE(settings->set("ZVCurrentSWVersDict", PlistValue(report)));
  ASSERT_TRUE(settings->set("Empty", PlistValue("")));

  auto other = makeFileSettings(path);
  EXPECT_EQ(other->get("ZVCurrentSWVers"), PlistValue("10.14.6"));
  EXPECT_EQ(other->get("ZVCurrentSWVersDict"), PlistValue(report));
  EXPECT_EQ(other->get("Empty"), PlistValue(""));
  EXPECT_EQ(other->get("Missing"), std::nullopt);

  // The file is an XML property list, and the folders made for it are the user's alone.
  EXPECT_TRUE(readFile(path).starts_with("<?xml"));
  struct stat info;
  ASSERT_EQ(::stat((dir.path() / "nested").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST(SettingsFile, ReadCacheNoticesWritesOfOthers) {
  TempDir dir;
  std::string path = (dir.path() / "app.plist").string();
  auto reader = makeFileSettings(path);
  auto writer = makeFileSettings(path);
  EXPECT_EQ(reader->get("key"), std::nullopt);  // cached: no file
  ASSERT_TRUE(writer->set("key", PlistValue("one")));
  EXPECT_EQ(reader->get("key"), PlistValue("one"));
  ASSERT_TRUE(writer->set("key", PlistValue("two")));
  EXPECT_EQ(reader->get("key"), PlistValue("two"));
  // Edited in place by someone else, same size: a new modification time still tells.
  PlistDict edited{{"key", PlistValue("six")}};
  std::string bytes = writeXmlPlist(PlistValue(edited));
  writeFile(path, bytes);
  EXPECT_EQ(reader->get("key"), PlistValue("six"));
  fs::remove(path);
  EXPECT_EQ(reader->get("key"), std::nullopt);
}

TEST(SettingsFile, CorruptFileIsMovedAsideNotOverwritten) {
  TempDir dir;
  fs::path path = dir.path() / "app.plist";
  writeFile(path, "<?xml version=\"1.0\"?><plist><dict><key>cut short");
  auto settings = makeFileSettings(path.string());
  EXPECT_EQ(settings->get("cut short"), std::nullopt);
  ASSERT_TRUE(settings->set("key", PlistValue("value")));
  EXPECT_EQ(makeFileSettings(path.string())->get("key"), PlistValue("value"));

  // A second damaged file in the same second gets a name of its own.
  writeFile(path, "[1, 2, 3]");
  ASSERT_TRUE(settings->set("key", PlistValue("again")));
  // A property list that is not a dictionary is no store either.
  writeFile(path, writeXmlPlist(PlistValue(PlistArray{PlistValue(1)})));
  ASSERT_TRUE(settings->set("key", PlistValue("third")));

  std::vector<std::string> asideContents;
  for (const fs::path& name : filesIn(dir.path())) {
    if (name.string().starts_with("app.plist.corrupt-")) asideContents.push_back(readFile(dir.path() / name));
  }
  std::sort(asideContents.begin(), asideContents.end());
  ASSERT_EQ(asideContents.size(), 3u);
  EXPECT_NE(asideContents[0].find("<array>"), std::string::npos);
  EXPECT_TRUE(asideContents[1].starts_with("<?xml version=\"1.0\"?><plist><dict>"));
  EXPECT_EQ(asideContents[2], "[1, 2, 3]");
  PlistDict expected{{"key", PlistValue("third")}};
  EXPECT_EQ(readPlist(readFile(path)), PlistValue(expected));
}

TEST(SettingsFile, EmptyFileIsAnEmptyStore) {
  TempDir dir;
  fs::path path = dir.path() / "app.plist";
  writeFile(path, "");
  auto settings = makeFileSettings(path.string());
  EXPECT_EQ(settings->get("key"), std::nullopt);
  ASSERT_TRUE(settings->set("key", PlistValue(1)));
  EXPECT_EQ(filesIn(dir.path()), (std::vector<fs::path>{"app.plist", "app.plist.lock"}));
}

TEST(SettingsFile, UnusablePlacesRefuseTheWrite) {
  TempDir dir;
  fs::create_directory(dir.path() / "folder.plist");
  EXPECT_FALSE(makeFileSettings((dir.path() / "folder.plist").string())->set("k", PlistValue(1)));
  writeFile(dir.path() / "file", "x");
  EXPECT_FALSE(makeFileSettings((dir.path() / "file" / "under-a-file.plist").string())->set("k", PlistValue(1)));
  EXPECT_FALSE(makeFileSettings(std::string("/tmp/a\0b", 8))->set("k", PlistValue(1)));
}

TEST(SettingsFile, FullDiskLeavesTheOldFileAndNoTemporaryFile) {
  TempDir dir;
  std::string mountPoint = (dir.path() / "small").string();
  auto outcome = testing::inPrivateMountNamespace([&]() -> std::string {
    if (::mkdir(mountPoint.c_str(), 0700) != 0) return "mkdir failed";
    if (::mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=64k") != 0) return "skip: mount tmpfs failed";
    std::string path = mountPoint + "/app.plist";
    auto settings = makeFileSettings(path);
    if (!settings->set("kept", PlistValue("old value"))) return "the first write failed";
    std::string before = readFile(path);
    if (settings->set("huge", PlistValue(std::string(1 << 20, 'x')))) return "a write beyond the disk succeeded";
    if (readFile(path) != before) return "the old file changed";
    if (filesIn(mountPoint) != std::vector<fs::path>{"app.plist", "app.plist.lock"}) return "a temporary file was left";
    if (makeFileSettings(path)->get("kept") != PlistValue("old value")) return "the old value is gone";
    if (settings->get("huge")) return "the failed value is visible";
    return "";
  });
  if (outcome.status == testing::ChildOutcome::Status::Skipped) GTEST_SKIP() << outcome.message;
  EXPECT_EQ(outcome.status, testing::ChildOutcome::Status::Passed) << outcome.message;
}

TEST(SettingsFile, FileNamesFollowTheProcessChoiceAndTheEnvironment) {
  std::string program = programName();
  {
    ScopedEnv xdg("XDG_CONFIG_HOME", "/xdg/config");
    EXPECT_EQ(defaultSettingsFile(), "/xdg/config/strandel/" + program + ".plist");
  }
  {
    ScopedEnv xdg("XDG_CONFIG_HOME", "relative/ignored");
    ScopedEnv home("HOME", "/home/someone");
    EXPECT_EQ(defaultSettingsFile(), "/home/someone/.config/strandel/" + program + ".plist");
  }
  {
    ScopedEnv xdg("XDG_CONFIG_HOME", nullptr);
    ScopedEnv home("HOME", "/home/other");
    EXPECT_EQ(defaultSettingsFile(), "/home/other/.config/strandel/" + program + ".plist");
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
  ScopedEnv chosen("STRANDEL_SETTINGS", nullptr);
  ScopedEnv xdg("XDG_CONFIG_HOME", dir.str().c_str());
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
