#include "tests/support/ToolRun.hpp"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/Paths.hpp"
#include "tests/support/TempDir.hpp"

extern char** environ;

namespace strandel::testing {
ToolRun runStrandel(const std::vector<std::string>& arguments, ToolEnvironment environment, int output) {
  TempDir scratch;
  std::string outPath = scratch.str() + "/out", errPath = scratch.str() + "/err";
  // Everything the child needs is made before the fork: only async-signal-safe calls follow it.
  std::string tool = toolPath();
  std::vector<std::string> copies = arguments;
  std::vector<char*> argv{tool.data()};
  for (auto& argument : copies) argv.push_back(argument.data());
  argv.push_back(nullptr);
  char* emptyEnvironment[] = {nullptr};
  char** envp = environment == ToolEnvironment::Empty ? emptyEnvironment : environ;

  // Files rather than pipes: the output of a run can be far larger than a pipe holds, and
  // nothing has to read it while the tool runs.
  pid_t child = ::fork();
  if (child == 0) {
    int in = ::open("/dev/null", O_RDONLY);
    int out = output >= 0 ? output : ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || out < 0 || err < 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0) ::_exit(127);
    ::execve(tool.c_str(), argv.data(), envp);
    ::_exit(127);
  }
  ToolRun run;
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child) return run;
  if (WIFSIGNALED(status)) {
    run.signal = WTERMSIG(status);
    run.status = 128 + run.signal;
  } else {
    run.status = WEXITSTATUS(status);
  }
  run.out = readFile(outPath);
  run.err = readFile(errPath);
  return run;
}

}  // namespace strandel::testing
