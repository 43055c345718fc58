#include <strandel/Strandel.hpp>

namespace strandel {
// Not built yet: the volume catalogue is its own change.
PlistArray StrandelFramework::volumeList() { return {}; }
std::string StrandelFramework::unitizedBytes(double) { return "0 bytes"; }
PlistDict StrandelFramework::volumesInAPFSContainer(std::string_view) { return {}; }
bool isNetworkTimeMachine(std::string_view) { return false; }
}  // namespace strandel
