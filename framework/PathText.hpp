// Pure text work on BSD names and paths, shared by the volume catalogue and by the
// subsystems that need the same rules (capacity, apfs). No machine is involved.
#pragma once

#include <string>
#include <string_view>


#include "text/UrlPath.hpp"

namespace strandel::detail {

/// The whole disk that a BSD name belongs to: the name up to, and not including, the first
/// "s" that is not the "s" of a "disk". disk1s2 and disk1s2s1 give disk1, disk3 gives disk3.
/// A name without such an "s" is given back whole; "/dev/disk1s2" gives "/dev/disk1".
std::string wholeDiskName(std::string_view bsdName);

}  // namespace strandel::detail
