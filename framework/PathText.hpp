// The whole disk of a BSD name, for the volume list, the container members and the tool's
// volume table. Pure text work: no machine is involved.
#pragma once

#include <string>
#include <string_view>

#include "text/UrlPath.hpp"

namespace strandel::framework {

/// The whole disk that a BSD name belongs to: the name up to, and not including, the first
/// "s" that is not the "s" of a "disk". disk1s2 and disk1s2s1 give disk1, disk3 gives disk3.
/// A name without such an "s" is given back whole; "/dev/disk1s2" gives "/dev/disk1".
std::string wholeDiskName(std::string_view bsdName);

}  // namespace strandel::framework
