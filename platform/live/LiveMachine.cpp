#include "platform/live/LiveMachine.hpp"

namespace strandel::platform::live {
// Not built yet: the live backend is its own change.
std::shared_ptr<Machine> makeLiveMachine() { return nullptr; }
std::unique_ptr<Processes> makeHostProcesses() { return nullptr; }
}  // namespace strandel::platform::live
