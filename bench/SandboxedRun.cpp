// An image's tool run in the sandbox (namespaces, Landlock, the filter, limits, the standard
// error relay) against its floor: posix_spawn of the same script and one read of its bytes
// into a buffer that is kept from run to run, then waitpid. Goal: at most 1.5 times the floor,
// for a tool that prints a line and for one that prints 3.5 MB (docs/performance.md).
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/TemporaryFolder.hpp"
#include "platform/linux/Sandbox.hpp"
#include "platform/posix/Processes.hpp"

namespace strandel::platform {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kLargeBytes = 3'500'000;

// A folder standing in for an image's root: a tool printing a line, one printing 3.5 MB, and
// the tmp/ the tools may write.
const fs::path& toolFolder() {
  // Made once, and removed as the program ends.
  static const bench::TemporaryFolder made("sandbox");
  static const fs::path folder = [] {
    const fs::path& dir = made.path();
    std::ofstream(dir / "line") << "#!/bin/sh\necho 'Mac OS X 10.15.7'\n";
    std::ofstream(dir / "large.txt") << std::string(kLargeBytes - 1, 'x') << '\n';
    std::ofstream(dir / "large") << "#!/bin/sh\nexec /bin/cat \"${0%/*}/large.txt\"\n";
    fs::permissions(dir / "line", fs::perms(0755));
    fs::permissions(dir / "large", fs::perms(0755));
    fs::create_directory(dir / "tmp");
    return dir;
  }();
  return folder;
}

std::size_t bareRun(const std::string& tool) {
  static std::vector<char> kept(8 << 20);  // the floor's buffer: allocated and touched once
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return 0;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  char* argv[] = {const_cast<char*>(tool.c_str()), nullptr};
  char* envp[] = {nullptr};
  pid_t pid = -1;
  int spawned = posix_spawn(&pid, tool.c_str(), &actions, nullptr, argv, envp);
  posix_spawn_file_actions_destroy(&actions);
  ::close(fds[1]);
  std::size_t total = 0;
  for (ssize_t n; spawned == 0 && total < kept.size() &&
                  (n = ::read(fds[0], kept.data() + total, kept.size() - total)) > 0;)
    total += static_cast<std::size_t>(n);
  ::close(fds[0]);
  if (spawned == 0) ::waitpid(pid, nullptr, 0);
  return total;
}

// One runner for every repetition, as one process of the tool keeps one: what its first run
// builds (the filter, the kept namespaces, the stack, the output's room) is not a run's cost.
Processes& sandboxedProcesses() {
  static const std::unique_ptr<Processes> processes = [] {
    std::vector<live::SandboxPath> paths;
    paths.push_back({live::UniqueFd(::open(toolFolder().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC)),
                     live::SandboxAccess::Read});
    // The one folder an image's tools may write, as every image has it.
    paths.push_back(
        {live::UniqueFd(::open((toolFolder() / "tmp").c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC)),
         live::SandboxAccess::ReadWrite});
    return live::makeHostProcesses(
        {.sandbox = live::makeSandbox(std::move(paths)), .timeLimit = std::chrono::seconds(60)});
  }();
  return *processes;
}

void BM_FloorLine(benchmark::State& state) {
  std::string tool = (toolFolder() / "line").string();
  for (auto _ : state) benchmark::DoNotOptimize(bareRun(tool));
}

void BM_SandboxedLine(benchmark::State& state) {
  Processes& processes = sandboxedProcesses();
  ToolRunOptions options;
  options.tool = (toolFolder() / "line").string();
  processes.runTool(options);
  for (auto _ : state) {
    auto output = processes.runTool(options);
    if (!output || output->bytes.empty()) state.SkipWithError("the tool did not run");
    benchmark::DoNotOptimize(output);
  }
}

void BM_FloorLarge(benchmark::State& state) {
  std::string tool = (toolFolder() / "large").string();
  for (auto _ : state) benchmark::DoNotOptimize(bareRun(tool));
}

void BM_SandboxedLarge(benchmark::State& state) {
  Processes& processes = sandboxedProcesses();
  ToolRunOptions options;
  options.tool = (toolFolder() / "large").string();
  processes.runTool(options);
  for (auto _ : state) {
    auto output = processes.runTool(options);
    if (!output || output->bytes.size() != kLargeBytes)
      state.SkipWithError("the output was not read whole");
    benchmark::DoNotOptimize(output);
  }
}

// Interleaved, so that a change in the machine's load hits both sides of each comparison.
// Wall time: the tool's own run is most of both sides, and the floor's parent sleeps in read.
BENCHMARK(BM_FloorLine)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SandboxedLine)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FloorLarge)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SandboxedLarge)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace strandel::platform
