#include "tools/strandel/Command.hpp"

namespace strandel::tool {

// Not built yet: the command is added by its own change.
void addImageCommand(CLI::App&, Context&) {}

}  // namespace strandel::tool
