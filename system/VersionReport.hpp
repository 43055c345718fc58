// Reading the version tool's output, and the log line that shows the version dictionary.
#pragma once

#include <string>
#include <string_view>

#include <strandel/PlistValue.hpp>

namespace strandel::system {

/// The first line of the version tool's output (everything before the first line feed, not
/// trimmed), every byte accepted: above 127 as the Latin-1 character of the same value.
std::string versionFromToolOutput(std::string_view bytes);

/// One entry per line that holds a ":": the key is the text before the first colon as it
/// stands, the value the text up to the next colon with blanks and line ends trimmed from both
/// ends. A later line with the same key wins. Bytes are decoded as for `versionFromToolOutput`.
PlistDict versionDictionaryFromToolOutput(std::string_view bytes);

/// The dictionary in the old-style property-list text form, on one line:
/// `{ BuildVersion = 16G29; ProductName = "Mac OS X"; ProductVersion = "10.12.6"; }`.
std::string describeForLog(const PlistDict& dictionary);

}  // namespace strandel::system
