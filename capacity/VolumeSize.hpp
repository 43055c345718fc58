// Volume capacities: the pieces behind the exported capacity queries, open to the tests.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace strandel::capacity {

/// The whole-disk name that holds the APFS container of the mounted-from name `device`
/// (/dev/disk3s1 and /dev/disk3s1s1 give disk3, /dev/disk4 gives disk4). Nothing when the last
/// component of `device` holds no "disk" (a network share, a pseudo file system, "").
std::optional<std::string> containerNameOfDevice(std::string_view device);

}  // namespace strandel::capacity
