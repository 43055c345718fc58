// Handing descriptors to another process over a Unix socket.
#pragma once

#include <cstddef>

namespace strandel::platform::live {

/// The most descriptors one message carries.
inline constexpr std::size_t kMaxPassed = 2;

/// Sends `count` (1 to kMaxPassed) descriptors over `socket` with one byte, without waiting;
/// false when they could not be sent. Only system calls: safe between clone and exec.
bool sendDescriptors(int socket, const int* fds, std::size_t count);

/// Takes the descriptors of the message waiting on `socket` (close-on-exec) into `out`, without
/// waiting: how many there were (at most kMaxPassed; none when no message is waiting, or it
/// carried something else). The caller owns them. Only system calls: safe between clone and exec.
std::size_t receiveDescriptors(int socket, int (&out)[kMaxPassed]);

}  // namespace strandel::platform::live
