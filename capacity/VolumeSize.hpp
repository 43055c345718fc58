// Volume capacities: the total, free and used bytes of the file system holding a path, and the
// used bytes of an APFS container.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace strandel::capacity {

/// The whole-disk name that holds the APFS container of the mounted-from name `device`
/// (/dev/disk3s1 and /dev/disk3s1s1 give disk3, /dev/disk4 gives disk4). Nothing when the last
/// component of `device` holds no "disk" (a network share, a pseudo file system, "").
std::optional<std::string> containerNameOfDevice(std::string_view device);

/// The total, free (superuser reserve included) and used bytes of the file system holding
/// `path`; 0 when it can't be measured. The used size is negative when free exceeds total.
double totalSize(std::string_view path);
double freeSize(std::string_view path);
double usedSize(std::string_view path);

/// The used bytes of the APFS container of the volume mounted at `mountPoint` (its capacity
/// ceiling less its free space); without a container, `usedSize`.
double apfsUsedSize(std::string_view mountPoint);

/// `usedSize` and `totalSize` as byte text.
std::string usedSizeText(std::string_view path);
std::string totalSizeText(std::string_view path);

}  // namespace strandel::capacity
