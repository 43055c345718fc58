// Running the built strandel tool as a user or a script runs it, its streams captured.
#pragma once

#include <string>
#include <vector>

namespace strandel::testing {

/// How the tool ended and what it wrote.
struct ToolRun {
  int status = -1;  // the exit status; 128 + the signal number when a signal ended it; -1: not run
  int signal = 0;   // the signal that ended it, 0 when it exited
  std::string out, err;
};

enum class ToolEnvironment { Inherited, Empty };

/// Runs the built tool with `arguments` (argv[1...], passed unchanged), stdin from the null
/// device, stdout and stderr captured whole. `environment` Empty runs it as a CI script would
/// with nothing set. `output`, when given, is the open descriptor that stdout goes to instead
/// of being captured. A run that can't be started gives status -1.
ToolRun runStrandel(const std::vector<std::string>& arguments, ToolEnvironment environment = ToolEnvironment::Inherited,
                    int output = -1);

}  // namespace strandel::testing
