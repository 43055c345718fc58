// The settings store in its property-list file: what it keeps, where, and what dying or racing writers leave.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <thread>

#include <strandel/Machine.hpp>

#include "platform/FileBytes.hpp"
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
  PlistValue report(PlistDict{{"ProductName", PlistValue("Mac OS X")}, {"ProductVersion", PlistValue("10.14.6")}});
  ASSERT_TRUE(makeFileSettings(path)->set("ZVCurrentSWVersDict", report));
  EXPECT_EQ(makeFileSettings(path)->get("ZVCurrentSWVersDict"), report);
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

TEST(SettingsFile, DefaultFileFollowsTheEnvironment) {
  const struct {
    const char *xdg, *home;
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
}

TEST(SettingsFile, LiveMachineUsesTheFileNamedAtTheTimeOfTheCall) {
  TempDir dir;
  ScopedEnv unset("STRANDEL_SETTINGS", nullptr), xdg("XDG_CONFIG_HOME", dir.str().c_str());
  auto machine = live::makeLiveMachine();
  auto where = [&] { return machine->settings().get("where"); };
  ASSERT_TRUE(machine->settings().set("where", PlistValue("default")));
  EXPECT_TRUE(fs::exists(dir.path() / "strandel" / (programName() + ".plist")));
  std::string fromEnvironment = (dir.path() / "environment.plist").string(), fromCall = (dir.path() / "call.plist").string();
  {
    ScopedEnv chosen("STRANDEL_SETTINGS", fromEnvironment.c_str());
    ASSERT_TRUE(machine->settings().set("where", PlistValue("environment")));
    EXPECT_EQ(makeFileSettings(fromEnvironment)->get("where"), PlistValue("environment"));
    useSettingsFile(fromCall);  // the process's choice wins
    EXPECT_EQ(where(), std::nullopt);
    ASSERT_TRUE(machine->settings().set("where", PlistValue("call")));
    EXPECT_EQ(makeFileSettings(fromCall)->get("where"), PlistValue("call"));
    useSettingsFile("");  // takes the choice back
    EXPECT_EQ(where(), PlistValue("environment"));
  }
  EXPECT_EQ(where(), PlistValue("default"));
}

// A folder in memory where the host has one. fsync is what makes a write survive a power
// loss; it plays no part in what these tests check (writers that die or race), and on a disk
// a thousand writes would take long for it alone.
struct MemoryFolder {
  TempDir fallback;
  fs::path path = fallback.path();
  MemoryFolder() {
    std::error_code error;
    if (fs::path shm = "/dev/shm" / fallback.path().filename(); fs::create_directory(shm, error)) path = shm;
  }
  ~MemoryFolder() {
    std::error_code ignored;
    if (path != fallback.path()) fs::remove_all(path, ignored);
  }
};

// Runs `work` in a child process, which exits 0 when it returns true.
pid_t forkChild(const std::function<bool()>& work) {
  pid_t pid = ::fork();
  if (pid == 0) ::_exit(work() ? 0 : 1);
  return pid;
}

// Whether a reader finds a store at the path at this moment (not nothing, not a damaged file).
bool holdsAStore(const std::string& path) {
  auto bytes = readFileBytes(path);
  auto value = bytes ? readPlist(*bytes) : std::nullopt;
  return value && value->asDictionary();
}

// Starts the writers, watches the file until they are done, and gives how often a reader
// found it damaged.
int damagedWhileWriting(const std::string& path, int writers, const std::function<bool(int)>& write) {
  for (int w = 0; w < writers; ++w) forkChild([&] { return write(w); });
  int damaged = 0;
  for (int status = 0; writers > 0;) {
    if (fs::exists(path) && !holdsAStore(path)) ++damaged;
    ::usleep(1000);  // leave the writers most of the processor
    for (; writers > 0 && ::waitpid(-1, &status, WNOHANG) > 0; --writers) {
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a writer failed";
    }
  }
  return damaged;
}

TEST(SettingsConcurrency, WriterKilledMidWriteLeavesAFileThatParses) {
  TempDir dir;
  std::string path = (dir.path() / "app.plist").string();
  ASSERT_TRUE(makeFileSettings(path)->set("seed", PlistValue("kept")));
  std::mt19937 random(20240601);
  for (int round = 0; round < 30; ++round) {
    pid_t pid = forkChild([&] {
      auto settings = makeFileSettings(path);
      // Large values make each write long, so that the kill lands inside one.
      for (int i = 0;; ++i) settings->set("key" + std::to_string(i % 40), PlistValue(std::string(30000, 'a' + i % 26)));
      return true;
    });
    ::usleep(static_cast<useconds_t>(random() % 40000));
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    ASSERT_TRUE(holdsAStore(path)) << "round " << round;
  }
  // Whatever the killed writers left beside the file is cleared by the next writer.
  auto settings = makeFileSettings(path);
  ASSERT_TRUE(settings->set("after", PlistValue(true)));
  EXPECT_EQ(settings->get("seed"), PlistValue("kept"));
  EXPECT_EQ(filesIn(dir.path()), (std::vector<std::string>{"app.plist", "app.plist.lock"}));
}

// Two processes writing in a loop: values that grow, one key both write, and keys of their own
// that a lost update would leave out.
TEST(SettingsConcurrency, TwoWritersNeverLeaveAFileThatDoesNotParse) {
  MemoryFolder dir;
  std::string path = (dir.path / "app.plist").string();
  auto own = [](int writer, int i) { return "w" + std::to_string(writer) + "-" + std::to_string(i); };
  int damaged = damagedWhileWriting(path, 2, [&](int writer) {
    auto settings = makeFileSettings(path);
    for (int i = 0; i < 100; ++i) {
      if (!settings->set("shared", PlistValue(static_cast<std::int64_t>(writer * 1000 + i))) ||
          !settings->set("writer" + std::to_string(writer), PlistValue(std::string(i * 20, 'x'))) ||
          !settings->set(own(writer, i), PlistValue(i))) {
        return false;
      }
    }
    return true;
  });
  EXPECT_EQ(damaged, 0);
  auto settings = makeFileSettings(path);
  int missing = 0;
  for (int writer = 0; writer < 2; ++writer) {
    EXPECT_EQ(settings->get("writer" + std::to_string(writer)), PlistValue(std::string(1980, 'x')));
    for (int i = 0; i < 100; ++i) missing += settings->get(own(writer, i)) != PlistValue(i);
  }
  EXPECT_EQ(missing, 0);
}

TEST(SettingsConcurrency, ThreadsShareOneStore) {
  MemoryFolder dir;
  auto settings = makeFileSettings((dir.path / "app.plist").string());
  std::vector<std::thread> threads;
  std::atomic<int> failures = 0;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int k = 0; k < 50; ++k) {
        std::string key = "t" + std::to_string(t) + "-" + std::to_string(k);
        if (!settings->set(key, PlistValue(k)) || settings->get(key) != PlistValue(k)) ++failures;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures, 0);
  for (int t = 0; t < 4; ++t) EXPECT_EQ(settings->get("t" + std::to_string(t) + "-49"), PlistValue(49));
}

}  // namespace
}  // namespace strandel::platform
