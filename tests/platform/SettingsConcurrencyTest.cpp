#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <random>
#include <thread>

#include "platform/FileBytes.hpp"
#include "platform/HostServices.hpp"
#include "tests/support/TempDir.hpp"

namespace strandel::platform {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

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

// What a reader finds at the path at this moment: nothing yet, a store, or a damaged file.
enum class Seen { Nothing, Store, Damaged };
Seen look(const std::string& path) {
  auto bytes = readFileBytes(path);
  if (!bytes) return Seen::Nothing;
  auto value = readPlist(*bytes);
  return value && value->asDictionary() ? Seen::Store : Seen::Damaged;
}

// Starts the writers, watches the file until they are done, and gives how often a reader
// found it damaged.
int damagedWhileWriting(const std::string& path, int writers, const std::function<bool(int)>& write) {
  std::vector<pid_t> children;
  for (int w = 0; w < writers; ++w) children.push_back(forkChild([&] { return write(w); }));
  int damaged = 0;
  std::size_t running = children.size();
  std::vector<bool> done(children.size(), false);
  while (running > 0) {
    if (look(path) == Seen::Damaged) ++damaged;
    ::usleep(1000);  // leave the writers most of the processor
    for (std::size_t i = 0; i < children.size(); ++i) {
      int status = 0;
      if (!done[i] && ::waitpid(children[i], &status, WNOHANG) == children[i]) {
        done[i] = true;
        --running;
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "writer " << i;
      }
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
    ASSERT_EQ(look(path), Seen::Store) << "round " << round;
  }
  // Whatever the killed writers left beside the file is cleared by the next writer.
  auto settings = makeFileSettings(path);
  ASSERT_TRUE(settings->set("after", PlistValue(true)));
  EXPECT_EQ(settings->get("seed"), PlistValue("kept"));
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir.path())) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"app.plist", "app.plist.lock"}));
}

TEST(SettingsConcurrency, TwoWritersNeverLeaveAFileThatDoesNotParse) {
  MemoryFolder dir;
  std::string path = (dir.path / "app.plist").string();
  int damaged = damagedWhileWriting(path, 2, [&](int writer) {
    auto settings = makeFileSettings(path);
    for (int i = 0; i < 200; ++i) {
      if (!settings->set("shared", PlistValue(static_cast<std::int64_t>(writer * 1000 + i)))) return false;
      if (!settings->set("writer" + std::to_string(writer), PlistValue(std::string(i * 10, 'x')))) return false;
    }
    return true;
  });
  EXPECT_EQ(damaged, 0);
  auto settings = makeFileSettings(path);
  EXPECT_EQ(settings->get("writer0"), PlistValue(std::string(1990, 'x')));
  EXPECT_EQ(settings->get("writer1"), PlistValue(std::string(1990, 'x')));
}

TEST(SettingsConcurrency, FourWritersKeepEveryKey) {
  MemoryFolder dir;
  std::string path = (dir.path / "app.plist").string();
  int damaged = damagedWhileWriting(path, 4, [&](int writer) {
    auto settings = makeFileSettings(path);
    for (int k = 0; k < 100; ++k) {
      if (!settings->set("w" + std::to_string(writer) + "-" + std::to_string(k), PlistValue(k))) return false;
    }
    return true;
  });
  EXPECT_EQ(damaged, 0);
  auto settings = makeFileSettings(path);
  int missing = 0;
  for (int writer = 0; writer < 4; ++writer) {
    for (int k = 0; k < 100; ++k) missing += settings->get("w" + std::to_string(writer) + "-" + std::to_string(k)) != PlistValue(k);
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
