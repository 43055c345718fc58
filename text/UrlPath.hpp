// Decoding the path of a URL, once for every place that reads mount URLs.
#pragma once

#include <string>
#include <string_view>

namespace strandel::text {

/// The file-system path of a URL given as text, as a mount URL yields it: percent escapes
/// decoded, the one trailing "/" removed except for the root. "file:///" gives "/",
/// "file:///Volumes/Backup%20Disk/" gives "/Volumes/Backup Disk". "" when the URL yields no
/// path: the empty URL, a URL without a path ("file://"), a malformed escape, or an escape
/// that decodes to bytes that are not UTF-8.
std::string urlPath(std::string_view url);

}  // namespace strandel::text
