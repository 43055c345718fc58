// Handing a descriptor to another process over a Unix socket.
#pragma once

#include "base/Handles.hpp"

namespace strandel::platform::live {

/// Sends `fd` over `socket` with one byte; false when it could not. Only system calls: safe
/// between clone and exec.
bool sendDescriptor(int socket, int fd);

/// The descriptor waiting on `socket` (close-on-exec), without waiting; invalid when none is.
base::UniqueFd receiveDescriptor(int socket);

}  // namespace strandel::platform::live
