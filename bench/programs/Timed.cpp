// bench_timed RUNS COMMAND [ARGUMENT...]: runs the command RUNS times, its output to /dev/null,
// and prints "MEDIAN_US MIN_US PEAK_KB CPU_US": the median and least wall time of one run, from
// start to reaped, the largest resident set any run reached (what `/usr/bin/time -f %M` shows),
// and the median CPU time (user + system) of one run, which the machine's load moves far less
// than wall time.
// A helper of bench/whole-process.sh: timing in-process costs no shell between runs.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

extern char** environ;

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: bench_timed RUNS COMMAND [ARGUMENT...]\n");
    return 2;
  }
  int runs = std::max(1, std::atoi(argv[1]));
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  std::vector<double> micros;
  std::vector<double> cpuMicros;
  long peakKb = 0;
  for (int i = 0; i < runs; ++i) {
    auto start = std::chrono::steady_clock::now();
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[2], &actions, nullptr, argv + 2, environ) != 0) {
      std::perror(argv[2]);
      return 1;
    }
    int status = 0;
    struct rusage usage {};
    if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      std::fprintf(stderr, "%s failed\n", argv[2]);
      return 1;
    }
    micros.push_back(
        std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
            .count());
    peakKb = std::max(peakKb, usage.ru_maxrss);
    auto toMicros = [](const timeval& t) { return double(t.tv_sec) * 1e6 + double(t.tv_usec); };
    cpuMicros.push_back(toMicros(usage.ru_utime) + toMicros(usage.ru_stime));
  }
  std::sort(micros.begin(), micros.end());
  std::sort(cpuMicros.begin(), cpuMicros.end());
  std::printf("%.0f %.0f %ld %.0f\n", micros[micros.size() / 2], micros.front(), peakKb,
              cpuMicros[cpuMicros.size() / 2]);
  return 0;
}
