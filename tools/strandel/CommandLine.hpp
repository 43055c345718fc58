// Reading the tool's command line.
#pragma once

#include <optional>
#include <string>

#include "tools/strandel/Command.hpp"

namespace strandel::tool {

/// Reads the command line: the chosen command sets `context.run` (and `context.passedOn`),
/// --format sets `context.format` and --machine `machineDir`. Gives an exit status when the
/// tool is done already: 0 once the help or the version is printed, 2 once a usage error is
/// said on stderr.
std::optional<int> readCommandLine(int argc, char** argv, Context& context,
                                   std::string& machineDir);

}  // namespace strandel::tool
