// What many runs leave behind in the process: descriptors and children, counted from /proc.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/Handles.hpp"
#include "platform/live/LiveMachine.hpp"
#include "platform/live/Spawn.hpp"

namespace strandel::platform {
namespace {

// Enough runs that a descriptor or child lost once in a thousand shows. A spawn costs about
// the same under AddressSanitizer (the child shares the parent's memory until it execs), so the
// count stays the same in sanitizer builds.
constexpr int kRuns = 10000;

ToolRunOptions tool(std::string path, std::vector<std::string> arguments = {}) {
  ToolRunOptions options;
  options.tool = std::move(path);
  options.arguments = std::move(arguments);
  return options;
}

std::size_t openDescriptorCount() {
  std::size_t count = 0;
  DIR* dir = ::opendir("/proc/self/fd");
  if (!dir) return 0;
  while (dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] != '.') ++count;
  }
  ::closedir(dir);
  return count - 1;  // the listing's own descriptor
}

// Every process whose parent is this one, zombies included: what the kernel still keeps for us.
std::vector<pid_t> children() {
  std::vector<pid_t> found;
  pid_t self = ::getpid();
  DIR* proc = ::opendir("/proc");
  if (!proc) return found;
  while (dirent* entry = ::readdir(proc)) {
    char* end = nullptr;
    long pid = std::strtol(entry->d_name, &end, 10);
    if (pid <= 0 || *end != '\0') continue;
    std::ifstream stat(std::string("/proc/") + entry->d_name + "/stat");
    std::string line;
    if (!std::getline(stat, line)) continue;  // ended meanwhile
    // The command name in parentheses may hold anything, so the fields are read after its end.
    std::istringstream fields(line.substr(line.rfind(')') + 1));
    char state = 0;
    long parent = 0;
    if (fields >> state >> parent && parent == self) found.push_back(static_cast<pid_t>(pid));
  }
  ::closedir(proc);
  return found;
}

std::string readAll(ShellStream& stream) {
  std::string all;
  char buffer[256];
  while (auto n = stream.readPiece(buffer, sizeof buffer)) all.append(buffer, *n);
  return all;
}

// Waits, without reaping, until the process has ended: the library's next run must reap it.
void awaitEndUnreaped(pid_t pid) {
  siginfo_t info{};
  ASSERT_EQ(::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT), 0);
}

TEST(LiveResources, ManyToolRunsLeaveDescriptorsAndChildrenAsTheyWere) {
  auto processes = live::makeHostProcesses();
  std::size_t descriptors = openDescriptorCount();
  std::vector<pid_t> before = children();
  UniqueFd devNull(::open("/dev/null", O_WRONLY | O_CLOEXEC));
  for (int i = 0; i < kRuns; ++i) {
    switch (i % 4) {
      case 0:
      case 1: {
        auto output = processes->runTool(i % 4 ? tool("/bin/true") : tool("/bin/echo", {"x"}));
        ASSERT_TRUE(output);
        ASSERT_EQ(output->bytes, i % 4 ? "" : "x\n");
        break;
      }
      case 2: ASSERT_TRUE(processes->runToolToFile(tool("/bin/true"), devNull.get())); break;
      case 3: ASSERT_FALSE(processes->runTool(tool("/nonexistent/tool"))); break;
    }
  }
  devNull.reset();
  EXPECT_EQ(openDescriptorCount(), descriptors);
  EXPECT_EQ(children(), before);
  EXPECT_EQ(live::pendingChildCount(), 0u);
}

TEST(LiveResources, ManyShellRunsLeaveDescriptorsAndChildrenAsTheyWere) {
  auto processes = live::makeHostProcesses();
  std::size_t descriptors = openDescriptorCount();
  std::vector<pid_t> before = children();
  for (int i = 0; i < kRuns; ++i) {
    auto stream = processes->openShell("echo x");
    ASSERT_TRUE(stream);
    // Half are read to the end, half dropped unread: both ways must give everything back.
    if (i % 2) {
      ASSERT_EQ(readAll(*stream), "x\n");
    }
  }
  EXPECT_EQ(openDescriptorCount(), descriptors);
  EXPECT_EQ(children(), before);
}

TEST(LiveResources, ToolThatClosesItsOutputAndSleepsLeavesNoZombie) {
  auto processes = live::makeHostProcesses();
  std::vector<pid_t> before = children();
  // The tool prints its pid, closes its output and sleeps on: the run comes back while it runs.
  auto output = processes->runTool(tool("/bin/sh", {"-c", "printf %s $$; exec >&-; /bin/sleep 5"}));
  ASSERT_TRUE(output);
  pid_t pid = std::atoi(output->bytes.c_str());
  ASSERT_GT(pid, 0);
  EXPECT_EQ(::kill(pid, 0), 0) << "the run waited for the tool to end";
  ::kill(pid, SIGKILL);
  awaitEndUnreaped(pid);
  // The ended tool is a zombie only until the next run of any kind.
  auto stream = processes->openShell("true");
  ASSERT_TRUE(stream);
  stream->close();
  EXPECT_EQ(children(), before);
  EXPECT_EQ(live::pendingChildCount(), 0u);
}

TEST(LiveResources, ToolKilledInItsOutputGivesWhatItPrinted) {
  auto processes = live::makeHostProcesses();
  std::vector<pid_t> before = children();
  // Killed between two writes, and killed with a whole pipe's worth printed and unread.
  auto cut = processes->runTool(tool("/bin/sh", {"-c", "printf 'first line\\npart'; kill -KILL $$; echo never"}));
  ASSERT_TRUE(cut);
  EXPECT_EQ(cut->bytes, "first line\npart");
  auto large = processes->runTool(tool("/bin/sh", {"-c", "/usr/bin/seq 1 100000; kill -TERM $$; echo never"}));
  ASSERT_TRUE(large);
  std::string expected;
  for (int i = 1; i <= 100000; ++i) expected += std::to_string(i) + "\n";
  EXPECT_TRUE(large->bytes == expected) << large->bytes.size() << " bytes";

  auto stream = processes->openShell("printf 'first line\\npart'; kill -KILL $$; echo never");
  ASSERT_TRUE(stream);
  EXPECT_EQ(readAll(*stream), "first line\npart");
  stream->close();
  EXPECT_EQ(children(), before);
}

TEST(LiveResources, ShellThatClosesItsOutputIsWaitedForAndReaped) {
  auto processes = live::makeHostProcesses();
  std::vector<pid_t> before = children();
  // A shell stream's close waits for the command, as pclose does: the end of the output alone
  // is not the end of the command.
  auto stream = processes->openShell("echo x; exec >&-; /bin/sleep 0.3; exit 4");
  ASSERT_TRUE(stream);
  EXPECT_EQ(readAll(*stream), "x\n");
  stream->close();
  EXPECT_EQ(children(), before);
}

}  // namespace
}  // namespace strandel::platform
