// The exported network Time Machine test.
#include <strandel/Strandel.hpp>

#include "framework/NetworkBackup.hpp"

namespace strandel {

bool isNetworkTimeMachine(std::string_view device) {
  return framework::isNetworkTimeMachine(device);
}

}  // namespace strandel
