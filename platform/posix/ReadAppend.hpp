// One read appended to a string, into storage that is not zero-filled first.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>

namespace strandel::platform::live {

/// Reads at most `room` bytes from `fd` (one read, retried after signals) onto the end of
/// `out`; the read's result. Growing `out` to hold them is the caller's: with room beyond the
/// capacity the string grows as it always does.
ssize_t readAppend(int fd, std::string& out, std::size_t room);

}  // namespace strandel::platform::live
