// A tool's large output read by the live host's Processes against `cat` of the same bytes read
// and dropped: what keeping the output costs over moving it through a pipe at all. The
// output is 200 MB, below the 256 MB cap; the ratio of the two is the figure to watch (a
// reading that zero-fills or copies the whole output again on every read shows up at once).
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/posix/Processes.hpp"

namespace {

constexpr std::size_t kBytes = std::size_t{200} << 20;

// A 200 MB file, made once per run and removed at exit.
const std::string& largeFile() {
  static const std::string path = [] {
    std::string name = "/tmp/strandel-bench-output-XXXXXX";
    int fd = ::mkstemp(name.data());
    std::string block(1 << 20, 'x');
    for (std::size_t i = 0; i < block.size(); i += 80) block[i] = '\n';
    for (std::size_t done = 0; fd >= 0 && done < kBytes; done += block.size()) {
      if (::write(fd, block.data(), block.size()) != static_cast<ssize_t>(block.size())) break;
    }
    if (fd >= 0) ::close(fd);
    static std::string removed = name;
    std::atexit([] { ::unlink(removed.c_str()); });
    return name;
  }();
  return path;
}

// cat with its output to a pipe that is read to the end and dropped.
std::size_t bareCat(const std::string& file) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return 0;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  char* argv[] = {const_cast<char*>("/bin/cat"), const_cast<char*>(file.c_str()), nullptr};
  char* envp[] = {nullptr};
  pid_t pid = -1;
  int spawned = posix_spawn(&pid, "/bin/cat", &actions, nullptr, argv, envp);
  posix_spawn_file_actions_destroy(&actions);
  ::close(fds[1]);
  std::size_t total = 0;
  static char buffer[64 * 1024];
  for (ssize_t n; spawned == 0 && (n = ::read(fds[0], buffer, sizeof buffer)) > 0;)
    total += static_cast<std::size_t>(n);
  ::close(fds[0]);
  if (spawned == 0) ::waitpid(pid, nullptr, 0);
  return total;
}

void BM_CatOf200MB(benchmark::State& state) {
  const std::string& file = largeFile();
  for (auto _ : state) benchmark::DoNotOptimize(bareCat(file));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBytes));
}

void BM_RunToolPrinting200MB(benchmark::State& state) {
  auto processes = strandel::platform::live::makeHostProcesses();
  strandel::platform::ToolRunOptions options;
  options.tool = "/bin/cat";
  options.arguments = {largeFile()};
  for (auto _ : state) {
    auto output = processes->runTool(options);
    if (!output || output->bytes.size() != kBytes)
      state.SkipWithError("the output was not read whole");
    benchmark::DoNotOptimize(output);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBytes));
}

// Interleaved, so that a change in the machine's load hits both sides of the comparison.
BENCHMARK(BM_CatOf200MB)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RunToolPrinting200MB)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
