// The one way the tool shows outside text to people: an image, a dump or a tool may hold any
// byte, and a terminal takes control characters as commands (ESC sequences, BEL, a CR that
// overwrites the line). Text answers, table cells and stderr lines that quote such text all go
// through here; JSON and plist output keep every byte.
#pragma once

#include <string>
#include <string_view>

namespace strandel::tool {

/// Whether line feeds and tabs pass: a transcript keeps its lines, a value or a cell does not.
enum class LineBreaks { Escape, Keep };

/// `text` with each control character (C0, DEL and C1, the last as its UTF-8 bytes), each byte
/// that is not part of valid UTF-8, and each backslash before an "x" written as \xHH, as
/// lsblk's tables write them; everything else as it stands.
std::string escapeControlCharacters(std::string_view text, LineBreaks lineBreaks = LineBreaks::Escape);

}  // namespace strandel::tool
