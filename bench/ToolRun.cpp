// A tool run through the live host's Processes against the bare system calls it is made of:
// posix_spawn with a pipe, read to the end, waitpid. The difference is the library's cost.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/posix/Processes.hpp"

namespace {

using strandel::platform::ToolRunOptions;

std::string bareRun(const char* path, const std::vector<const char*>& arguments) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return {};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  std::vector<char*> argv{const_cast<char*>(path)};
  for (const char* argument : arguments) argv.push_back(const_cast<char*>(argument));
  argv.push_back(nullptr);
  char* envp[] = {nullptr};
  pid_t pid = -1;
  int spawned = posix_spawn(&pid, path, &actions, nullptr, argv.data(), envp);
  posix_spawn_file_actions_destroy(&actions);
  ::close(fds[1]);
  std::string out;
  char buffer[64 * 1024];
  for (ssize_t n; spawned == 0 && (n = ::read(fds[0], buffer, sizeof buffer)) > 0;)
    out.append(buffer, static_cast<std::size_t>(n));
  ::close(fds[0]);
  if (spawned == 0) ::waitpid(pid, nullptr, 0);
  return out;
}

void BM_BareSpawnTrue(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(bareRun("/bin/true", {}));
}

void BM_BareSpawnEcho(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(bareRun("/bin/echo", {"a short line"}));
}

void BM_RunToolTrue(benchmark::State& state) {
  auto processes = strandel::platform::live::makeHostProcesses();
  ToolRunOptions options;
  options.tool = "/bin/true";
  for (auto _ : state) benchmark::DoNotOptimize(processes->runTool(options));
}

void BM_RunToolEcho(benchmark::State& state) {
  auto processes = strandel::platform::live::makeHostProcesses();
  ToolRunOptions options;
  options.tool = "/bin/echo";
  options.arguments = {"a short line"};
  for (auto _ : state) benchmark::DoNotOptimize(processes->runTool(options));
}

// Interleaved, so that a change in the machine's load hits both sides of each comparison.
BENCHMARK(BM_BareSpawnTrue)->UseRealTime();
BENCHMARK(BM_RunToolTrue)->UseRealTime();
BENCHMARK(BM_BareSpawnEcho)->UseRealTime();
BENCHMARK(BM_RunToolEcho)->UseRealTime();

}  // namespace
