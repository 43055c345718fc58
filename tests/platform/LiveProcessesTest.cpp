// Tool runs and shell runs of real processes on this host, and what they leave behind.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <set>
#include <sstream>

#include "platform/live/LiveMachine.hpp"
#include "platform/live/Spawn.hpp"
#include "tests/support/TempDir.hpp"

namespace strandel::platform {
namespace {

namespace fs = std::filesystem;

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

std::size_t openDescriptorCount() { return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()); }

// The descriptor numbers of a listing of /proc/self/fd, one a line.
std::set<int> numbersIn(const std::string& listing) {
  std::set<int> numbers;
  std::istringstream lines(listing);
  for (int number; lines >> number;) numbers.insert(number);
  return numbers;
}

TEST(LiveProcesses, EmptyEnvironmentIsReallyEmpty) {
  auto processes = live::makeHostProcesses();
  ::setenv("STRANDEL_PROBE", "a value", 1);
  std::string empty = run(*processes, tool("/usr/bin/env"));
  ToolRunOptions host = tool("/usr/bin/env");
  host.environment = Environment::Host;
  std::string inherited = run(*processes, host);
  ::unsetenv("STRANDEL_PROBE");
  EXPECT_EQ(empty, "");
  EXPECT_NE(inherited.find("STRANDEL_PROBE=a value\n"), std::string::npos) << inherited;
}

// (Arguments reach the tools unchanged: the probe and listing tests of system/ and apfs/ read
// them back from their image tools, which this spawn starts.)
TEST(LiveProcesses, ToolThatCannotStartGivesNothing) {
  testing::TempDir dir;
  testing::writeFile(dir.path() / "plain-file", "#!/bin/sh\necho should not run\n", 0644);
  testing::writeFile(dir.path() / "no-interpreter", "#!/nonexistent/shell\n", 0755);
  auto processes = live::makeHostProcesses();
  UniqueFd devNull(::open("/dev/null", O_WRONLY | O_CLOEXEC));
  for (const std::string& path : {std::string("/nonexistent/tool"), (dir.path() / "plain-file").string(),
                                   (dir.path() / "no-interpreter").string(), dir.str(), std::string(),
                                   std::string("/bin/true\0extra", 15)}) {
    EXPECT_FALSE(processes->runTool(tool(path))) << path;
    EXPECT_FALSE(processes->runToolToFile(tool(path), devNull.get())) << path;
  }
  EXPECT_FALSE(processes->runTool(tool("/bin/echo", {std::string("a\0b", 3)})));
  // A tool that fails still gives what it printed: the status is not the answer.
  EXPECT_EQ(run(*processes, tool("/bin/sh", {"-c", "echo partial; exit 3"})), "partial\n");
  EXPECT_TRUE(noChildLeft());
}

TEST(LiveProcesses, RunToolToFileWritesThroughTheDescriptorAndWaits) {
  testing::TempDir dir;
  fs::path path = dir.path() / "out";
  UniqueFd file(::open(path.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600));
  // The tool writes after a pause: only a run that waits for the exit finds the line.
  ToolRunOptions options = tool("/bin/sh", {"-c", "/bin/sleep 0.2; echo written; echo hidden >&2"});
  options.standardError = StdStream::NullDevice;
  ASSERT_TRUE(live::makeHostProcesses()->runToolToFile(options, file.get()));
  EXPECT_EQ(testing::readFile(path), "written\n");
  EXPECT_TRUE(noChildLeft());
}

TEST(LiveProcesses, StandardStreamsInheritedOrNullDevice) {
  auto processes = live::makeHostProcesses();
  ToolRunOptions options = tool("/bin/sh", {"-c", "readlink /proc/$$/fd/0 /proc/$$/fd/2"});
  options.standardInput = options.standardError = StdStream::NullDevice;
  EXPECT_EQ(run(*processes, options), "/dev/null\n/dev/null\n");
  options.standardInput = options.standardError = StdStream::Inherit;
  EXPECT_EQ(run(*processes, options),
            fs::read_symlink("/proc/self/fd/0").string() + "\n" + fs::read_symlink("/proc/self/fd/2").string() + "\n");
}

TEST(LiveProcesses, NoDescriptorOfOursReachesTheTool) {
  testing::TempDir dir;
  UniqueFd ours(::open((dir.path() / "ours").c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600));
  // The tool holds its standard streams, what it inherits from the test program whatever the
  // library does (descriptors without close-on-exec), and one of its own: the folder ls lists,
  // at the lowest free number.
  std::set<int> expected = {0, 1, 2};
  for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
    int fd = std::stoi(entry.path().filename().string());
    if (int flags = ::fcntl(fd, F_GETFD); flags >= 0 && !(flags & FD_CLOEXEC)) expected.insert(fd);
  }
  int lowestFree = 0;
  while (expected.count(lowestFree)) ++lowestFree;
  expected.insert(lowestFree);
  auto processes = live::makeHostProcesses();
  std::string listing = run(*processes, tool("/bin/ls", {"-1", "/proc/self/fd"}));
  EXPECT_EQ(numbersIn(listing), expected) << listing;
  // The output descriptor reaches the tool only as its standard output.
  UniqueFd out(::open((dir.path() / "listing").c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600));
  ASSERT_TRUE(processes->runToolToFile(tool("/bin/ls", {"-1", "/proc/self/fd"}), out.get()));
  EXPECT_EQ(numbersIn(testing::readFile(dir.path() / "listing")), expected);
}

// 1,000 tool runs of four kinds and 1,000 shell runs: enough that a descriptor or a child lost
// now and then shows.
TEST(LiveResources, ManyRunsLeaveDescriptorsAndChildrenAsTheyWere) {
  auto processes = live::makeHostProcesses();
  UniqueFd devNull(::open("/dev/null", O_WRONLY | O_CLOEXEC));
  std::size_t descriptors = openDescriptorCount();
  for (int i = 0; i < 1000; ++i) {
    switch (i % 4) {
      case 0: ASSERT_EQ(run(*processes, tool("/bin/echo", {"x"})), "x\n"); break;
      case 1: ASSERT_EQ(run(*processes, tool("/bin/true")), ""); break;
      case 2: ASSERT_TRUE(processes->runToolToFile(tool("/bin/true"), devNull.get())); break;
      case 3: ASSERT_FALSE(processes->runTool(tool("/nonexistent/tool"))); break;
    }
    auto stream = processes->openShell("echo x");
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
  auto stream = processes->openShell("true");
  ASSERT_TRUE(stream);
  stream->close();
  EXPECT_EQ(live::pendingChildCount(), 0u);
  EXPECT_TRUE(noChildLeft());
}

TEST(LiveResources, ToolKilledInItsOutputGivesWhatItPrinted) {
  auto processes = live::makeHostProcesses();
  // Killed between two writes, and killed with a whole pipe's worth printed and unread.
  EXPECT_EQ(run(*processes, tool("/bin/sh", {"-c", "printf 'first line\\npart'; kill -KILL $$; echo never"})),
            "first line\npart");
  std::string large = run(*processes, tool("/bin/sh", {"-c", "/usr/bin/seq 1 100000; kill -TERM $$; echo never"}));
  std::string expected;
  for (int i = 1; i <= 100000; ++i) expected += std::to_string(i) + "\n";
  EXPECT_TRUE(large == expected) << large.size() << " bytes";
  auto stream = processes->openShell("printf 'first line\\npart'; kill -KILL $$; echo never");
  ASSERT_TRUE(stream);
  EXPECT_EQ(readAll(*stream), "first line\npart");
  stream->close();
  EXPECT_TRUE(noChildLeft());
}

// Every piece a shell run gives with a buffer of `capacity` bytes, each ending in a NUL as with fgets.
std::vector<std::string> piecesOf(const std::string& commandLine, std::size_t capacity = 2048) {
  auto stream = live::makeHostProcesses()->openShell(commandLine);
  EXPECT_TRUE(stream);
  std::vector<std::string> out;
  std::vector<char> buffer(capacity, 'X');
  while (auto n = stream ? stream->readPiece(buffer.data(), capacity) : std::nullopt) {
    EXPECT_TRUE(*n < capacity && buffer[*n] == '\0') << "piece " << out.size() << " of " << commandLine;
    out.emplace_back(buffer.data(), *n);
  }
  return out;
}

// (The verify runner's tests read lines, long lines and no output through the same streams.)
TEST(LiveShellStream, PiecesAreShapedAsFgetsGivesThem) {
  using Pieces = std::vector<std::string>;
  EXPECT_EQ(piecesOf("printf 'a\\n\\nb'"), (Pieces{"a\n", "\n", "b"}));
  EXPECT_EQ(piecesOf("printf 'abcdefg\\nhi\\n'", 4), (Pieces{"abc", "def", "g\n", "hi\n"}));
  // A NUL in the output is stored like any byte; the count tells where the piece ends.
  EXPECT_EQ(piecesOf("printf 'a\\000b\\n'"), (Pieces{std::string("a\0b\n", 4)}));
  // Lines that arrive in separate writes still come out line by line.
  EXPECT_EQ(piecesOf("printf 'par'; /bin/sleep 0.1; printf 'tial\\nnext\\n'"), (Pieces{"partial\n", "next\n"}));
  // Output far beyond the read-ahead buffer keeps its order and every byte.
  auto many = piecesOf("/usr/bin/seq 1 100000");
  EXPECT_TRUE(many.size() == 100000u && many[49999] == "50000\n" && many.back() == "100000\n");
  // Capacity 1 gives empty pieces, 0 nothing.
  auto stream = live::makeHostProcesses()->openShell("echo x");
  ASSERT_TRUE(stream);
  char buffer[2];
  EXPECT_EQ(stream->readPiece(buffer, 0), std::nullopt);
  EXPECT_TRUE(stream->readPiece(buffer, 1) == 0u && buffer[0] == '\0');
  EXPECT_TRUE(stream->readPiece(buffer, 2) == 1u && buffer[0] == 'x');
}

TEST(LiveShellStream, RunsThroughTheShellWithTheHostEnvironment) {
  ::setenv("STRANDEL_PROBE", "from the host", 1);
  auto all = piecesOf("echo \"$STRANDEL_PROBE\" | tr a-z A-Z; echo two words");
  ::unsetenv("STRANDEL_PROBE");
  EXPECT_EQ(all, (std::vector<std::string>{"FROM THE HOST\n", "two words\n"}));
  // A command line starting with a dash is a command, not an option of the shell.
  EXPECT_EQ(piecesOf("-x 2>/dev/null; echo after"), (std::vector<std::string>{"after\n"}));
}

TEST(LiveShellStream, CloseWaitsForTheShellAndDestroyingCloses) {
  testing::TempDir dir;
  auto marker = dir.path() / "done";
  auto processes = live::makeHostProcesses();
  // The end of the output is not the end of the command: close waits for it, as pclose does.
  auto stream = processes->openShell("echo first; exec >&-; /bin/sleep 0.2; : > '" + marker.string() + "'; exit 4");
  ASSERT_TRUE(stream);
  EXPECT_EQ(readAll(*stream), "first\n");
  stream->close();
  EXPECT_TRUE(fs::exists(marker));
  EXPECT_TRUE(noChildLeft());
  char buffer[2048];

  // Dropped unread, in the middle of a long output: the shell is ended and reaped.
  auto endless = processes->openShell("/usr/bin/yes");
  ASSERT_TRUE(endless);
  EXPECT_EQ(endless->readPiece(buffer, sizeof buffer), 2u);
  endless.reset();
  EXPECT_TRUE(noChildLeft());
}

}  // namespace
}  // namespace strandel::platform
