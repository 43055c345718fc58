// Text from someone else's program shown to a person: control characters made visible, so
// that no byte of it moves the cursor, rings, clears or types into the terminal.
#pragma once

#include <string>
#include <string_view>

namespace strandel::detail {

/// `text` with each control character (C0 but line feed and tab, DEL, the C1 range in UTF-8)
/// and each byte that is not part of well-formed UTF-8 written as \xHH, as the tables show
/// them; everything else as it is.
std::string escapedControls(std::string_view text);

}  // namespace strandel::detail
