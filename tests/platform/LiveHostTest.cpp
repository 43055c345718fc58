// The live host's files, its log line and its mount table.
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <regex>
#include <thread>

#include "platform/ProgramName.hpp"
#include "platform/live/LiveMachine.hpp"
#include "platform/live/LiveServices.hpp"
#include "tests/platform/PrivateMounts.hpp"
#include "tests/support/TempDir.hpp"

namespace strandel::platform {
namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::writeFile;

TEST(LiveFiles, CreateExclusiveAndRemoveTakeLinksNotTheirTargets) {
  testing::TempDir dir;
  auto files = live::makeLiveFiles();
  fs::path path = dir.path() / "probe.temp", target = dir.path() / "precious";
  UniqueFd fresh = files->createExclusive(path.string());
  struct stat info;
  ASSERT_EQ(::fstat(fresh.get(), &info), 0);
  EXPECT_TRUE((info.st_mode & 0777) == 0600 && info.st_uid == ::geteuid());
  // A file left by an earlier run is replaced by an empty one; a link planted at the path,
  // dangling or not, is removed, never followed.
  writeFile(path, "left over");
  EXPECT_TRUE(files->createExclusive(path.string()));
  EXPECT_EQ(readFile(path), "");
  writeFile(target, "keep me");
  for (const fs::path& pointsAt : {target, dir.path() / "nowhere"}) {
    fs::remove(path);
    fs::create_symlink(pointsAt, path);
    EXPECT_TRUE(files->createExclusive(path.string()));
    EXPECT_FALSE(fs::is_symlink(path));
  }
  EXPECT_FALSE(fs::exists(dir.path() / "nowhere"));
  fs::create_symlink(target, dir.path() / "link");
  EXPECT_TRUE(files->remove((dir.path() / "link").string()));
  EXPECT_FALSE(files->remove((dir.path() / "link").string()));
  EXPECT_EQ(readFile(target), "keep me");
  // Folders are neither replaced nor removed.
  writeFile(dir.path() / "folder" / "inside", "x");
  EXPECT_FALSE(files->createExclusive((dir.path() / "folder").string()));
  EXPECT_FALSE(files->remove((dir.path() / "folder").string()));
  EXPECT_TRUE(fs::exists(dir.path() / "folder" / "inside"));
  EXPECT_FALSE(files->createExclusive((dir.path() / "missing-folder" / "x").string()));
}

// (What a line says, the version report's test reads; here its stamp and its form.)
TEST(LiveLog, WritesOneStampedLineToStandardError) {
  ::testing::internal::CaptureStderr();
  auto machine = live::makeLiveMachine();
  machine->log().write("{\n    ProductName = \"Mac OS X\";\n}");
  machine->log().write("second %@");
  std::string written = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(programName(), "test_platform");
  std::string prefix = R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} test_platform\[)" + std::to_string(::getpid()) + "\\] ";
  std::regex expected(prefix + R"(\{\n    ProductName = "Mac OS X";\n\}\n)" + prefix + "second %@\n");
  EXPECT_TRUE(std::regex_match(written, expected)) << written;
}

struct Entry {
  std::string on, from, type;
};

std::vector<Entry> entries(MountTable& table) {
  std::vector<Entry> out;
  EXPECT_TRUE(table.scan([&](const MountEntryView& entry) {
    out.push_back({std::string(entry.mountedOn), std::string(entry.mountedFrom), std::string(entry.type)});
    return false;
  }));
  return out;
}

std::string firstLineOf(const std::string& command) {
  std::string out;
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    char buffer[4096];
    if (std::fgets(buffer, sizeof buffer, pipe)) out = buffer;
    ::pclose(pipe);
  }
  while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
  return out.substr(std::min(out.find_first_not_of(' '), out.size()));
}

TEST(LiveMountTable, TheRootIsAsFindmntAndDfSeeIt) {
  auto table = live::makeLiveMountTable();
  Entry root;
  for (const Entry& entry : entries(*table)) {
    if (entry.on == "/") root = entry;  // the last entry on "/" is the one in force
    EXPECT_NE(entry.from, "none") << entry.on;
  }
  auto figures = table->statfs("/");
  ASSERT_TRUE(figures);
  EXPECT_FALSE(table->statfs("/nonexistent/path"));
  EXPECT_FALSE(table->statfs(""));
  EXPECT_FALSE(table->statfs(std::string_view("/\0etc", 5)));
  int visits = 0;
  EXPECT_TRUE(table->scan([&](const MountEntryView&) { return ++visits == 2; }));
  EXPECT_EQ(visits, 2);

  std::string source = firstLineOf("findmnt -n --nofsroot -o SOURCE / 2>/dev/null");
  std::string size = firstLineOf("df -B1 --output=size / 2>/dev/null | tail -n 1");
  if (source.empty() || size.empty()) GTEST_SKIP() << "findmnt or df is not available";
  EXPECT_EQ(root.from, source);
  EXPECT_EQ(root.type, firstLineOf("findmnt -n -o FSTYPE / 2>/dev/null"));
  EXPECT_EQ(std::to_string(figures->blocks * figures->blockSize), size);
}

TEST(LiveMountTable, ScansOnSeveralThreadsAtOnce) {
  auto table = live::makeLiveMountTable();
  std::vector<std::thread> threads;
  std::vector<int> rootsSeen(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 50; ++i) {
        table->scan([&](const MountEntryView& entry) {
          if (entry.mountedOn == "/") ++rootsSeen[t];
          return false;
        });
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (int seen : rootsSeen) EXPECT_GE(seen, 50);
}

TEST(LiveMountTable, NamesComeBackByteExact) {
  testing::TempDir dir;
  // A blank, a tab, a line feed, a backslash, non-ASCII text and a byte that is not UTF-8.
  const std::string awkward = (dir.path() / "a b\tc\nd\\e Données \xff end").string();
  const std::string plain = (dir.path() / "plain").string();
  const std::string source = "src with blank\tand \\ \xfe";
  testing::expectInPrivateMountNamespace([&]() -> std::string {
    if (::mkdir(awkward.c_str(), 0700) != 0 || ::mkdir(plain.c_str(), 0700) != 0) return "mkdir failed";
    if (::mount(source.c_str(), awkward.c_str(), "tmpfs", 0, "size=64k") != 0) return "skip: mount tmpfs failed";
    if (::mount("none", plain.c_str(), "tmpfs", 0, "size=64k") != 0) return "skip: mount tmpfs failed";
    auto table = live::makeLiveMountTable();
    std::string found;
    for (const Entry& entry : entries(*table)) {
      if (entry.on == awkward || entry.on == plain) found += "[" + entry.from + "|" + entry.type + "]";
    }
    // A source of "none" is no source.
    if (found != "[" + source + "|tmpfs][|tmpfs]") return "the mounts came back as " + found;
    auto figures = table->statfs(awkward);
    if (!figures || figures->blocks * figures->blockSize != 64 * 1024) return "statfs of the tmpfs is wrong";
    return "";
  });
}

}  // namespace
}  // namespace strandel::platform
