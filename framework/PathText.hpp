// Pure text work on BSD names, paths and mount URLs, shared by the volume catalogue and by the
// subsystems that need the same rules (capacity, apfs). No machine is involved.
#pragma once

#include <string>
#include <string_view>

#include <strandel/Export.hpp>

namespace strandel {

/// The whole disk that a BSD name belongs to: the name up to, and not including, the first
/// "s" that is not the "s" of a "disk". disk1s2 and disk1s2s1 give disk1, disk3 gives disk3.
/// A name without such an "s" is given back whole; "/dev/disk1s2" gives "/dev/disk1".
STRANDEL_EXPORT std::string wholeDiskName(std::string_view bsdName);

/// The file-system path of a URL given as text, as a mount URL yields it: percent escapes
/// decoded, the one trailing "/" removed except for the root. "file:///" gives "/",
/// "file:///Volumes/Backup%20Disk/" gives "/Volumes/Backup Disk". "" when the URL yields no
/// path: the empty URL, a URL without a path ("file://"), a malformed escape, or an escape
/// that decodes to bytes that are not UTF-8.
std::string urlPath(std::string_view url);

}  // namespace strandel
