// The two name forms that several subsystems compare: a path's last component and its tail.
// Pure text work; no machine is involved.
#pragma once

#include <optional>
#include <string_view>

namespace strandel::text {

/// The part of `text` after its last "/", trailing "/" ignored: "disk3" for "/dev/disk3" and
/// "/dev/disk3/"; a text without "/" is its own last component; "/" (or any run of "/" alone)
/// gives "/", and "" gives "". A view into `text` (a static "/" for a text of slashes only).
std::string_view lastPathComponent(std::string_view text) noexcept;

/// The part of `path` from its last "/" to its end, that "/" included: "/Backup" for
/// "/Volumes/Backup", "/" for "/" and for "/Volumes/Data/". Nothing for a text without "/".
std::optional<std::string_view> pathTail(std::string_view path) noexcept;

}  // namespace strandel::text
