// The live host: the Linux (POSIX) machine the library runs on.
#pragma once

#include <memory>

#include "platform/Machine.hpp"

namespace strandel::platform::live {

/// The live host machine. Its registry is empty on Linux.
std::shared_ptr<Machine> makeLiveMachine();

}  // namespace strandel::platform::live
