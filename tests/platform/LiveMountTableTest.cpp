#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>

#include <cstdio>
#include <thread>

#include "platform/live/LiveServices.hpp"
#include "tests/platform/PrivateMounts.hpp"
#include "tests/support/TempDir.hpp"

namespace strandel::platform {
namespace {

struct Entry {
  std::string on, from, type;
};

std::vector<Entry> entries(MountTable& table) {
  std::vector<Entry> out;
  bool read = table.scan([&](const MountEntryView& entry) {
    out.push_back({std::string(entry.mountedOn), std::string(entry.mountedFrom), std::string(entry.type)});
    return false;
  });
  EXPECT_TRUE(read);
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
  while (!out.empty() && out.front() == ' ') out.erase(0, 1);
  return out;
}

TEST(LiveMountTable, HoldsTheRootAsFindmntSeesIt) {
  auto table = live::makeLiveMountTable();
  const Entry* root = nullptr;
  auto all = entries(*table);
  // The last entry on "/" is the one in force.
  for (const Entry& entry : all) {
    if (entry.on == "/") root = &entry;
  }
  ASSERT_NE(root, nullptr);
  std::string expected = firstLineOf("findmnt -n --nofsroot -o SOURCE / 2>/dev/null");
  if (expected.empty()) GTEST_SKIP() << "findmnt is not available";
  EXPECT_EQ(root->from, expected);
  EXPECT_EQ(root->type, firstLineOf("findmnt -n -o FSTYPE / 2>/dev/null"));
  for (const Entry& entry : all) EXPECT_NE(entry.from, "none") << entry.on;
}

TEST(LiveMountTable, VisitStopsWhenAsked) {
  auto table = live::makeLiveMountTable();
  int visits = 0;
  EXPECT_TRUE(table->scan([&](const MountEntryView&) { return ++visits == 2; }));
  EXPECT_EQ(visits, 2);
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

TEST(LiveMountTable, StatfsFiguresMultiplyToTheSizeDfShows) {
  auto figures = live::makeLiveMountTable()->statfs("/");
  ASSERT_TRUE(figures);
  EXPECT_GT(figures->blockSize, 0u);
  EXPECT_GE(figures->blocks, figures->freeBlocks);
  std::string size = firstLineOf("df -B1 --output=size / 2>/dev/null | tail -n 1");
  if (size.empty()) GTEST_SKIP() << "df is not available";
  EXPECT_EQ(std::to_string(figures->blocks * figures->blockSize), size);

  auto table = live::makeLiveMountTable();
  EXPECT_FALSE(table->statfs("/nonexistent/path"));
  EXPECT_FALSE(table->statfs(""));
  EXPECT_FALSE(table->statfs(std::string_view("/\0etc", 5)));
}

TEST(LiveMountTable, NamesComeBackByteExact) {
  testing::TempDir dir;
  // A blank, a tab, a line feed, a backslash, non-ASCII text and a byte that is not UTF-8.
  const std::string awkward = "a b\tc\nd\\e Données \xff end";
  const std::string mountPoint = (dir.path() / awkward).string();
  const std::string plain = (dir.path() / "plain").string();
  const std::string source = "src with blank\tand \\ \xfe";
  auto outcome = testing::inPrivateMountNamespace([&]() -> std::string {
    if (::mkdir(mountPoint.c_str(), 0700) != 0 || ::mkdir(plain.c_str(), 0700) != 0) return "mkdir failed";
    if (::mount(source.c_str(), mountPoint.c_str(), "tmpfs", 0, "size=64k") != 0) return "skip: mount tmpfs failed";
    if (::mount("none", plain.c_str(), "tmpfs", 0, "size=64k") != 0) return "skip: mount tmpfs failed";
    auto table = live::makeLiveMountTable();
    std::string failures;
    bool foundAwkward = false, foundPlain = false;
    for (const Entry& entry : entries(*table)) {
      if (entry.on == mountPoint) {
        foundAwkward = true;
        if (entry.from != source) failures += "source came back as [" + entry.from + "]; ";
        if (entry.type != "tmpfs") failures += "type came back as [" + entry.type + "]; ";
      }
      if (entry.on == plain) {
        foundPlain = true;
        if (!entry.from.empty()) failures += "the source none came back as [" + entry.from + "]; ";
      }
    }
    if (!foundAwkward) failures += "the awkward mount point is missing; ";
    if (!foundPlain) failures += "the plain mount point is missing; ";
    auto figures = table->statfs(mountPoint);
    if (!figures || figures->blocks * figures->blockSize != 64 * 1024) failures += "statfs of the tmpfs is wrong; ";
    return failures;
  });
  if (outcome.status == testing::ChildOutcome::Status::Skipped) GTEST_SKIP() << outcome.message;
  EXPECT_EQ(outcome.status, testing::ChildOutcome::Status::Passed) << outcome.message;
}

}  // namespace
}  // namespace strandel::platform
