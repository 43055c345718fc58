#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

#include "platform/live/LiveMachine.hpp"
#include "platform/live/LiveServices.hpp"
#include "platform/live/Spawn.hpp"
#include "tests/support/TempDir.hpp"

namespace strandel::platform {
namespace {

using testing::TempDir;
using testing::writeFile;

ToolRunOptions tool(std::string path, std::vector<std::string> arguments = {},
                    Environment environment = Environment::Empty) {
  ToolRunOptions options;
  options.tool = std::move(path);
  options.arguments = std::move(arguments);
  options.environment = environment;
  return options;
}

std::set<int> openDescriptors() {
  std::set<int> fds;
  DIR* dir = ::opendir("/proc/self/fd");
  if (!dir) return fds;
  while (dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] != '.') fds.insert(std::atoi(entry->d_name));
  }
  fds.erase(::dirfd(dir));
  ::closedir(dir);
  return fds;
}

// Descriptors that any child of this process inherits whatever the library does: those the
// test program itself got without close-on-exec (its standard streams, a harness's pipes).
std::set<int> inheritableDescriptors() {
  std::set<int> fds;
  for (int fd : openDescriptors()) {
    int flags = ::fcntl(fd, F_GETFD);
    if (flags >= 0 && !(flags & FD_CLOEXEC)) fds.insert(fd);
  }
  return fds;
}

std::set<int> numbersIn(const std::string& listing) {
  std::set<int> numbers;
  std::istringstream lines(listing);
  for (std::string line; std::getline(lines, line);) numbers.insert(std::atoi(line.c_str()));
  return numbers;
}

bool noChildLeft() { return ::waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD; }

TEST(LiveProcesses, EmptyEnvironmentIsReallyEmpty) {
  auto processes = live::makeHostProcesses();
  ::setenv("STRANDEL_PROBE", "a value", 1);
  auto empty = processes->runTool(tool("/usr/bin/env"));
  auto host = processes->runTool(tool("/usr/bin/env", {}, Environment::Host));
  ::unsetenv("STRANDEL_PROBE");
  ASSERT_TRUE(empty && host);
  EXPECT_EQ(empty->bytes, "");
  EXPECT_NE(host->bytes.find("STRANDEL_PROBE=a value\n"), std::string::npos) << host->bytes;
}

TEST(LiveProcesses, ArgumentsArriveUnchanged) {
  TempDir dir;
  auto script = dir.path() / "echo-arguments";
  writeFile(script, "#!/bin/sh\nfor a in \"$@\"; do printf '[%s]\\n' \"$a\"; done\n", 0755);
  std::vector<std::string> arguments = {"-n", "two words", "", "\"quoted\"", "'single'", "$HOME", "*",
                                        "tab\there", "line\nfeed", "Macintosh HD — Data", "\\"};
  auto output = live::makeHostProcesses()->runTool(tool(script.string(), arguments));
  ASSERT_TRUE(output);
  std::string expected;
  for (const auto& argument : arguments) expected += "[" + argument + "]\n";
  EXPECT_EQ(output->bytes, expected);
}

TEST(LiveProcesses, ToolThatCannotStartGivesNothing) {
  TempDir dir;
  writeFile(dir.path() / "plain-file", "#!/bin/sh\necho should not run\n", 0644);
  writeFile(dir.path() / "no-interpreter", "#!/nonexistent/shell\n", 0755);
  auto processes = live::makeHostProcesses();
  const std::vector<std::string> unstartable = {
      "/nonexistent/tool", (dir.path() / "plain-file").string(), (dir.path() / "no-interpreter").string(),
      dir.str(), "", std::string("/bin/true\0extra", 15)};
  for (const std::string& path : unstartable) {
    EXPECT_FALSE(processes->runTool(tool(path))) << path;
    UniqueFd devNull(::open("/dev/null", O_WRONLY | O_CLOEXEC));
    EXPECT_FALSE(processes->runToolToFile(tool(path), devNull.get())) << path;
  }
  EXPECT_FALSE(processes->runTool(tool("/bin/echo", {std::string("a\0b", 3)})));

  auto silent = processes->runTool(tool("/bin/true"));
  ASSERT_TRUE(silent.has_value());
  EXPECT_EQ(silent->bytes, "");
  // The exit status is not the answer: a failing tool still gives what it printed.
  auto failing = processes->runTool(tool("/bin/sh", {"-c", "echo partial; exit 3"}));
  ASSERT_TRUE(failing);
  EXPECT_EQ(failing->bytes, "partial\n");
  EXPECT_TRUE(noChildLeft());
}

TEST(LiveProcesses, LargeOutputArrivesWhole) {
  auto output = live::makeHostProcesses()->runTool(tool("/usr/bin/seq", {"1", "200000"}));
  ASSERT_TRUE(output);
  std::string expected;
  for (int i = 1; i <= 200000; ++i) expected += std::to_string(i) + "\n";
  EXPECT_EQ(output->bytes.size(), expected.size());
  EXPECT_TRUE(output->bytes == expected);
}

TEST(LiveProcesses, RunToolToFileWritesThroughTheDescriptorAndWaits) {
  TempDir dir;
  auto files = live::makeLiveFiles();
  std::string path = (dir.path() / "out").string();
  UniqueFd file = files->createExclusive(path);
  ASSERT_TRUE(file);
  // The tool writes after a pause: only a run that waits for the exit finds the line.
  ToolRunOptions options = tool("/bin/sh", {"-c", "/bin/sleep 0.2; echo written; echo hidden >&2"});
  options.standardError = StdStream::NullDevice;
  ASSERT_TRUE(live::makeHostProcesses()->runToolToFile(options, file.get()));
  std::ifstream in(path);
  std::stringstream contents;
  contents << in.rdbuf();
  EXPECT_EQ(contents.str(), "written\n");
  EXPECT_TRUE(noChildLeft());
}

TEST(LiveProcesses, StandardStreamsInheritedOrNullDevice) {
  TempDir dir;
  std::string errors = (dir.path() / "stderr").string();
  auto processes = live::makeHostProcesses();
  auto runWithStderrCaptured = [&](StdStream standardError) {
    UniqueFd capture(::open(errors.c_str(), O_CREAT | O_TRUNC | O_WRONLY | O_CLOEXEC, 0600));
    UniqueFd saved(::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3));
    ::dup2(capture.get(), STDERR_FILENO);
    ToolRunOptions options = tool("/bin/sh", {"-c", "echo to-stderr >&2; /bin/cat"});
    options.standardError = standardError;
    options.standardInput = StdStream::NullDevice;
    auto output = processes->runTool(options);
    ::dup2(saved.get(), STDERR_FILENO);
    std::ifstream in(errors);
    std::stringstream contents;
    contents << in.rdbuf();
    EXPECT_TRUE(output && output->bytes.empty());
    return contents.str();
  };
  EXPECT_EQ(runWithStderrCaptured(StdStream::Inherit), "to-stderr\n");
  EXPECT_EQ(runWithStderrCaptured(StdStream::NullDevice), "");
}

TEST(LiveProcesses, NoDescriptorOfOursReachesTheTool) {
  TempDir dir;
  auto files = live::makeLiveFiles();
  UniqueFd ours = files->createExclusive((dir.path() / "ours").string());
  ASSERT_TRUE(ours);
  // The tool holds its standard streams, what it inherits from the test program regardless of
  // the library, and one descriptor of its own: the folder ls lists, at the lowest free number.
  std::set<int> expected = inheritableDescriptors();
  expected.insert({0, 1, 2});
  int lowestFree = 0;
  while (expected.count(lowestFree)) ++lowestFree;
  expected.insert(lowestFree);
  auto processes = live::makeHostProcesses();

  auto output = processes->runTool(tool("/bin/ls", {"-1", "/proc/self/fd"}));
  ASSERT_TRUE(output);
  EXPECT_EQ(numbersIn(output->bytes), expected) << output->bytes;

  std::string listing = (dir.path() / "listing").string();
  UniqueFd out = files->createExclusive(listing);
  ASSERT_TRUE(processes->runToolToFile(tool("/bin/ls", {"-1", "/proc/self/fd"}), out.get()));
  std::ifstream in(listing);
  std::stringstream contents;
  contents << in.rdbuf();
  // The output descriptor reaches the tool only as its standard output.
  EXPECT_EQ(numbersIn(contents.str()), expected) << contents.str();
}

}  // namespace
}  // namespace strandel::platform
