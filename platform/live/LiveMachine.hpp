// The live host: the Linux (POSIX) machine the library runs on.
#pragma once

#include <memory>

#include "platform/Machine.hpp"

namespace strandel::platform::live {

/// The live host machine. Its registry is empty on Linux.
std::shared_ptr<Machine> makeLiveMachine();

/// Tool runs and shell runs of real processes on this host (the image backend uses it too,
/// after mapping the tool's path into its root folder).
std::unique_ptr<Processes> makeHostProcesses();

}  // namespace strandel::platform::live
