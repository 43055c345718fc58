// One read appended to a string, into storage that is not zero-filled first.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <string>

namespace strandel::base {

/// Reads at most `room` bytes from `fd` (one read, retried after signals; at file offset `at`
/// when given, as pread does) onto the end of `out`; the read's result. Growing `out` to hold
/// them is the caller's: with room beyond the capacity the string grows as it always does.
ssize_t readAppend(int fd, std::string& out, std::size_t room,
                   std::optional<off_t> at = std::nullopt);

/// Asks for the room of a large `out` to be backed by huge pages where the kernel gives them on
/// request: faulting in 4 KiB pages one by one costs more than reading into them once a file or
/// an output runs to tens of megabytes. Only advice; without it reading is as correct, if slower.
void adviseHugePages(std::string& out);

}  // namespace strandel::base
