// The lookups and the capacities against the real kernel mount table: a child process makes a
// private mount namespace, mounts small tmpfs file systems on awkward folder names, and checks
// the answers of the live machine against statfs(2). Findings travel back through a pipe.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/statfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>

#include <strandel/Machine.hpp>
#include <strandel/Strandel.hpp>

#include "platform/Machine.hpp"
#include "tests/support/TempDir.hpp"

namespace strandel {
namespace {

constexpr int kCannotIsolate = 77;

struct LiveMount {
  std::string folder;  // under the test's temporary folder
  std::string source;  // the mounted-from name tmpfs is given
  const char* options;  // size= sets the total
};

const LiveMount kMounts[] = {
    {"plain", "strandel-plain", "size=4m"},
    {"with blank", "strandel src with blank", "size=8m"},
    {"with\ttab", "strandel\tsrc", "size=2m"},
    {"back\\slash", "strandel\\src", "size=1m"},
    {"new\nline", "strandel-newline", "size=7m"},
    {"Café Données", "strandel-café", "size=3m"},
    // Latin-1 "é" (0xE9) alone is not UTF-8: a folder, then a source, that no lookup can name.
    {"Latin1-caf\xE9", "strandel-latin1", "size=5m"},
    {"bad-source", "strandel-caf\xE9", "size=6m"},
};

// Runs in the child: every finding is one line on `report`.
void checkLiveMounts(const std::string& base, std::ostream& report) {
  auto check = [&report](bool ok, const std::string& what) {
    if (!ok) report << what << "\n";
  };
  for (const LiveMount& m : kMounts) {
    std::string on = base + "/" + m.folder;
    bool onIsUtf8 = m.folder.find('\xE9') == std::string::npos;
    bool fromIsUtf8 = m.source.find('\xE9') == std::string::npos;
    std::string from = getVolumeMountFromName(on);
    check(from == (onIsUtf8 && fromIsUtf8 ? m.source : ""), "mount from '" + on + "' gave '" + from + "'");
    std::string found = getVolumeMountOnName(m.source);
    check(found == (onIsUtf8 && fromIsUtf8 ? on : ""), "mount on '" + m.source + "' gave '" + found + "'");

    struct statfs figures {};
    if (::statfs(on.c_str(), &figures) != 0) {
      report << "statfs(2) failed on '" << on << "': " << std::strerror(errno) << "\n";
      continue;
    }
    // Linux counts blocks in fragments of f_frsize bytes (what `df -B1` multiplies by).
    double bsize = static_cast<double>(figures.f_frsize ? figures.f_frsize : figures.f_bsize);
    double total = bsize * static_cast<double>(static_cast<std::int64_t>(figures.f_blocks));
    double free = bsize * static_cast<double>(static_cast<std::int64_t>(figures.f_bfree));
    double used = bsize * static_cast<double>(static_cast<std::int64_t>(figures.f_blocks - figures.f_bfree));
    auto same = [&](const char* what, double got, double want) {
      if (got != want) report << what << " of '" << on << "' is " << got << ", statfs(2) says " << want << "\n";
    };
    same("total", ZVFoundationGetVolTotalSize(on), total);
    same("free", ZVFoundationGetVolFreeSize(on), free);
    same("used", ZVFoundationGetVolUsedSize(on), used);
    same("total of a file inside", ZVFoundationGetVolTotalSize(on + "/file"), total);
    // A tmpfs has no disk behind it: the container used size falls back to its own.
    same("APFS used", ZVFoundationGetAPFSVolUsedSize(on), used);
    // The size= option is the total, whatever the block size.
    std::uint64_t megabytes = std::strtoull(m.options + 5, nullptr, 10);
    same("size= total", total, static_cast<double>(megabytes) * 1048576);
  }
}

TEST(MountLive, LookupsAndSizesAgreeWithTheKernel) {
  testing::TempDir base;
  int pipeFds[2];
  ASSERT_EQ(::pipe2(pipeFds, O_CLOEXEC), 0);
  pid_t child = ::fork();
  ASSERT_NE(child, -1);
  if (child == 0) {
    ::close(pipeFds[0]);
    if (::unshare(CLONE_NEWNS) != 0 || ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
      std::string why = std::string("can't make a private mount namespace: ") + std::strerror(errno);
      (void)!::write(pipeFds[1], why.data(), why.size());
      ::_exit(kCannotIsolate);
    }
    std::ostringstream report;
    for (const LiveMount& m : kMounts) {
      std::string on = base.str() + "/" + m.folder;
      std::filesystem::create_directories(on);
      if (::mount(m.source.c_str(), on.c_str(), "tmpfs", 0, m.options) != 0) {
        report << "mount of tmpfs on '" << on << "' failed: " << std::strerror(errno) << "\n";
      } else {
        testing::writeFile(on + "/file", "x");
      }
    }
    useLiveMachine();
    if (report.str().empty()) checkLiveMounts(base.str(), report);
    std::string text = report.str();
    (void)!::write(pipeFds[1], text.data(), text.size());
    ::_exit(text.empty() ? 0 : 1);
  }
  ::close(pipeFds[1]);
  std::string text;
  char buffer[4096];
  ssize_t n;
  while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR)) {
    if (n > 0) text.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(pipeFds[0]);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  ASSERT_TRUE(WIFEXITED(status)) << "the checking process died: " << text;
  if (WEXITSTATUS(status) == kCannotIsolate) GTEST_SKIP() << text << " (needs root or user namespaces)";
  EXPECT_EQ(WEXITSTATUS(status), 0) << text;
  EXPECT_EQ(text, "");
}

}  // namespace
}  // namespace strandel
