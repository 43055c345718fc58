// Text from someone else's program or files shown to a person: control characters made
// visible, so that no byte of it moves the cursor, rings, clears or types into the terminal.
// The tool's text answers, table cells and error lines and an image tool's standard error all
// go through here; JSON and plist output keep every byte.
#pragma once

#include <string>
#include <string_view>

namespace strandel::text {

/// Whether line feeds and tabs pass: a transcript keeps its lines, a value or a cell does not.
enum class LineBreaks { Escape, Keep };

/// `text` with each control character (C0, DEL and C1, the last as its UTF-8 bytes), each byte
/// that is not part of well-formed UTF-8, and each backslash before an "x" written as \xHH, as
/// lsblk's tables write them, so that the text can be read back; everything else as it stands.
std::string escapedControls(std::string_view text, LineBreaks lineBreaks);

}  // namespace strandel::text
