// The live host: tool runs and shell runs of real processes and what they leave behind, its
// files, its log line and its mount table. (The lookups and sizes over the live table, awkward
// names included, the live mount test of system/ checks.)
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include <strandel/Machine.hpp>

#include "platform/linux/LiveMachine.hpp"
#include "platform/linux/LiveMountTable.hpp"
#include "platform/posix/LiveServices.hpp"
#include "platform/posix/Processes.hpp"
#include "platform/posix/Spawn.hpp"
#include "tests/support/PrivateMounts.hpp"
#include "tests/support/TempDir.hpp"

namespace strandel::platform {
namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::writeFile;

ToolRunOptions tool(std::string path, std::vector<std::string> arguments = {}) {
  return {.tool = std::move(path), .arguments = std::move(arguments)};
}

// What a run gave, or a word that no output can be.
std::string run(Processes& processes, const ToolRunOptions& options) {
  auto output = processes.runTool(options);
  return output ? output->bytes : "(not run)";
}

std::string readAll(ShellStream& stream) {
  std::string all;
  char buffer[256];
  while (auto n = stream.readPiece(buffer, sizeof buffer)) all.append(buffer, *n);
  return all;
}

// Finds a zombie as well as a running child (and reaps it, failing the check).
bool noChildLeft() { return ::waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD; }

std::size_t openDescriptorCount() {
  return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator());
}

// Neither our environment (unless the host's is asked for) nor our descriptors reach the tool.
TEST(LiveProcesses, NothingOfOursReachesTheTool) {
  auto processes = live::makeHostProcesses();
  ::setenv("STRANDEL_PROBE", "a value", 1);
  std::string empty = run(*processes, tool("/usr/bin/env"));
  std::string inherited = run(*processes, {.tool = "/usr/bin/env", .arguments = {}, .environment = Environment::Host});
  ::unsetenv("STRANDEL_PROBE");
  EXPECT_EQ(empty, "");
  EXPECT_NE(inherited.find("STRANDEL_PROBE=a value\n"), std::string::npos) << inherited;
  // The tool holds its standard streams and one of its own (the folder ls lists, at the lowest
  // free number), and nothing else: not even what the test program left open across exec.
  UniqueFd leftOpen(::open("/dev/null", O_RDONLY));
  ASSERT_TRUE(leftOpen);
  std::string listing = run(*processes, tool("/bin/ls", {"-1", "/proc/self/fd"}));
  std::set<int> found;
  std::istringstream lines(listing);
  for (int number; lines >> number;) found.insert(number);
  EXPECT_EQ(found, (std::set<int>{0, 1, 2, 3})) << listing;
}

// (Arguments reach the tools unchanged: the probe and listing tests of system/ and apfs/ read
// them back from their image tools, which this spawn starts.)
TEST(LiveProcesses, ToolThatCannotStartGivesNothing) {
  auto processes = live::makeHostProcesses();
  UniqueFd devNull(::open("/dev/null", O_WRONLY | O_CLOEXEC));
  for (const std::string& path :
       {std::string("/nonexistent/tool"), std::string("/bin"), std::string(), std::string("/bin/true\0extra", 15)}) {
    EXPECT_FALSE(processes->runTool(tool(path))) << path;
    EXPECT_FALSE(processes->runToolToFile(tool(path), devNull.get())) << path;
  }
  EXPECT_TRUE(noChildLeft());
}

// Output past the cap is no answer: the tool is ended and reaped, and nothing is thrown.
TEST(LiveProcesses, OutputOverTheCapGivesNothingUsable) {
  constexpr std::size_t kCap = 1 << 20;
  auto processes = live::makeHostProcesses({.outputCap = kCap});
  const std::string exactly = "/usr/bin/head -c " + std::to_string(kCap) + " /dev/zero";
  const std::string oneMore = "/usr/bin/head -c " + std::to_string(kCap + 1) + " /dev/zero";
  EXPECT_EQ(run(*processes, tool("/bin/sh", {"-c", exactly})).size(), kCap);
  EXPECT_EQ(run(*processes, tool("/bin/sh", {"-c", oneMore})).size(), 0u);
  // Endless, and deaf to the broken pipe: only being killed ends it.
  EXPECT_EQ(run(*processes, tool("/bin/sh", {"-c", "trap '' PIPE; exec /usr/bin/yes"})).size(), 0u);
  EXPECT_TRUE(noChildLeft());
}

TEST(LiveProcesses, RunToolToFileWritesThroughTheDescriptorAndWaits) {
  testing::TempDir dir;
  fs::path path = dir.path() / "out";
  UniqueFd file(::open(path.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600));
  // The tool writes after a pause: only a run that waits for the exit finds the lines.
  ToolRunOptions options = tool("/bin/sh", {"-c", "/bin/sleep 0.2; readlink /proc/$$/fd/0 /proc/$$/fd/2"});
  options.standardInput = options.standardError = StdStream::NullDevice;
  ASSERT_TRUE(live::makeHostProcesses()->runToolToFile(options, file.get()));
  EXPECT_EQ(readFile(path), "/dev/null\n/dev/null\n");
  EXPECT_TRUE(noChildLeft());
}

// 1,000 tool runs of three kinds and 1,000 shell runs: enough that a descriptor or a child lost
// now and then shows.
TEST(LiveResources, ManyRunsLeaveDescriptorsAndChildrenAsTheyWere) {
  auto processes = live::makeHostProcesses();
  UniqueFd devNull(::open("/dev/null", O_WRONLY | O_CLOEXEC));
  std::size_t descriptors = openDescriptorCount();
  for (int i = 0; i < 1000; ++i) {
    switch (i % 3) {
      case 0:
        ASSERT_EQ(run(*processes, tool("/bin/echo", {"x"})), "x\n");
        break;
      case 1:
        ASSERT_TRUE(processes->runToolToFile(tool("/bin/true"), devNull.get()));
        break;
      case 2:
        ASSERT_FALSE(processes->runTool(tool("/nonexistent/tool")));
        break;
    }
    auto stream = processes->openShell("echo", "x");
    ASSERT_TRUE(stream);
    // Half are read to the end, half dropped unread: both ways must give everything back.
    if (i % 2) {
      ASSERT_EQ(readAll(*stream), "x\n");
    }
  }
  EXPECT_EQ(openDescriptorCount(), descriptors);
  EXPECT_TRUE(noChildLeft());
  EXPECT_EQ(live::pendingChildCount(), 0u);
}

TEST(LiveResources, ToolThatClosesItsOutputAndSleepsLeavesNoZombie) {
  auto processes = live::makeHostProcesses();
  // The tool prints its pid, closes its output and sleeps on: the run comes back while it runs.
  pid_t pid = std::atoi(run(*processes, tool("/bin/sh", {"-c", "printf %s $$; exec >&-; /bin/sleep 5"})).c_str());
  ASSERT_GT(pid, 0);
  EXPECT_EQ(::kill(pid, 0), 0) << "the run waited for the tool to end";
  ::kill(pid, SIGKILL);
  // Waits, without reaping, until it has ended: it is a zombie only until the next run of any kind.
  siginfo_t info{};
  ASSERT_EQ(::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT), 0);
  auto stream = processes->openShell("true", "");
  ASSERT_TRUE(stream);
  stream->close();
  EXPECT_EQ(live::pendingChildCount(), 0u);
  EXPECT_TRUE(noChildLeft());
}

// The status is not the answer: a tool that fails, or is killed between two writes, still gives
// what it printed, through either kind of run.
TEST(LiveResources, ToolThatFailsOrIsKilledGivesWhatItPrinted) {
  auto processes = live::makeHostProcesses();
  for (const std::string end : {"exit 3", "kill -KILL $$"}) {
    const std::string arguments = "'first line\\npart'; " + end + "; echo never";
    EXPECT_EQ(run(*processes, tool("/bin/sh", {"-c", "printf " + arguments})), "first line\npart") << end;
    auto stream = processes->openShell("printf", arguments);
    ASSERT_TRUE(stream);
    EXPECT_EQ(readAll(*stream), "first line\npart") << end;
  }
  EXPECT_TRUE(noChildLeft());
}

// Every piece a shell run gives, each ending in a NUL as with fgets.
std::vector<std::string> piecesOf(const std::string& tool, const std::string& argumentText) {
  auto stream = live::makeHostProcesses()->openShell(tool, argumentText);
  EXPECT_TRUE(stream);
  std::vector<std::string> out;
  std::vector<char> buffer(2048, 'X');
  while (auto n = stream ? stream->readPiece(buffer.data(), buffer.size()) : std::nullopt) {
    EXPECT_TRUE(*n < buffer.size() && buffer[*n] == '\0')
        << "piece " << out.size() << " of " << tool << " " << argumentText;
    out.emplace_back(buffer.data(), *n);
  }
  return out;
}

// (The verify runner's tests read lines, lines longer than the buffer, a NUL and no output
// through the same streams.)
TEST(LiveShellStream, RunsThroughTheHostShellInPiecesShapedAsFgetsGivesThem) {
  // The host's environment reaches the shell; lines that arrive in separate writes still come
  // out line by line.
  ::setenv("STRANDEL_PROBE", "par", 1);
  auto lines = piecesOf("printf", "\"$STRANDEL_PROBE\"; /bin/sleep 0.1; printf 'tial\\nnext\\n'");
  ::unsetenv("STRANDEL_PROBE");
  EXPECT_EQ(lines, (std::vector<std::string>{"partial\n", "next\n"}));
  // Output far beyond the read-ahead buffer keeps its order and every byte.
  auto many = piecesOf("/usr/bin/seq", "1 100000");
  EXPECT_TRUE(many.size() == 100000u && many[49999] == "50000\n" && many.back() == "100000\n");
}

TEST(LiveShellStream, CloseWaitsForTheShellAndDestroyingCloses) {
  testing::TempDir dir;
  auto marker = dir.path() / "done";
  auto processes = live::makeHostProcesses();
  // The end of the output is not the end of the command: close waits for it, as pclose does.
  auto stream = processes->openShell("echo", "first; exec >&-; /bin/sleep 0.2; : > '" + marker.string() + "'; exit 4");
  ASSERT_TRUE(stream);
  EXPECT_EQ(readAll(*stream), "first\n");
  stream->close();
  EXPECT_TRUE(fs::exists(marker));
  EXPECT_TRUE(noChildLeft());
  // Dropped unread, in the middle of a long output: the shell is ended and reaped.
  auto endless = processes->openShell("/usr/bin/yes", "");
  ASSERT_TRUE(endless);
  char buffer[2048];
  EXPECT_EQ(endless->readPiece(buffer, sizeof buffer), 2u);
  endless.reset();
  EXPECT_TRUE(noChildLeft());
}

TEST(LiveFiles, CreateExclusiveAndRemoveTakeLinksNotTheirTargets) {
  testing::TempDir dir;
  auto files = live::makeLiveFiles();
  fs::path path = dir.path() / "probe.temp", target = dir.path() / "precious";
  // A link planted at the path is removed, never followed: no file appears where it points.
  fs::create_symlink(dir.path() / "nowhere", path);
  UniqueFd fresh = files->createExclusive(path.string());
  struct stat info;
  ASSERT_EQ(::fstat(fresh.get(), &info), 0);
  EXPECT_TRUE((info.st_mode & 0777) == 0600 && info.st_uid == ::geteuid());
  EXPECT_FALSE(fs::exists(dir.path() / "nowhere"));
  writeFile(target, "keep me");
  fs::create_symlink(target, dir.path() / "link");
  EXPECT_TRUE(files->remove((dir.path() / "link").string()));
  EXPECT_EQ(readFile(target), "keep me");
}

// (What a line says, the version report's test reads; here its stamp and its form.)
TEST(LiveLog, WritesOneStampedLineToStandardError) {
  ::testing::internal::CaptureStderr();
  auto machine = live::makeLiveMachine();
  machine->log().write("{\n    ProductName = \"Mac OS X\";\n}");
  machine->log().write("second %@");
  std::string written = ::testing::internal::GetCapturedStderr();
  std::string prefix = R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} test_platform\[)" + std::to_string(::getpid()) + "\\] ";
  std::regex expected(prefix + R"(\{\n    ProductName = "Mac OS X";\n\}\n)" + prefix + "second %@\n");
  EXPECT_TRUE(std::regex_match(written, expected)) << written;

  // A host's sink gets the message alone, and nothing reaches standard error; an empty sink
  // brings the line on standard error back.
  std::vector<std::string> messages;
  setLogSink([&messages](std::string_view message) { messages.emplace_back(message); });
  ::testing::internal::CaptureStderr();
  machine->log().write("to the host");
  setLogSink({});
  machine->log().write("second %@");
  written = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(messages, std::vector<std::string>{"to the host"});
  EXPECT_TRUE(std::regex_match(written, std::regex(prefix + "second %@\n"))) << written;
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
    table->scan([&](const MountEntryView& entry) {
      if (entry.mountedOn == awkward || entry.mountedOn == plain) {
        found += "[" + std::string(entry.mountedFrom) + "|" + std::string(entry.type) + "]";
      }
      return false;
    });
    // A source of "none" is no source.
    return found == "[" + source + "|tmpfs][|tmpfs]" ? "" : "the mounts came back as " + found;
  });
}

}  // namespace
}  // namespace strandel::platform
