// The pure text work behind the version comparison: trimming the caller's version and
// ordering two version texts with digit runs compared by value. No machine is involved.
#pragma once

#include <string_view>

#include "text/NumericCompare.hpp"

namespace strandel::system {

/// Whether the code point is a letter or a mark (Unicode general categories L and M) or a
/// blank (category Zs, and the tab). Line feeds and other line ends are not blanks.
bool isVersionTrimCharacter(char32_t codePoint) noexcept;

/// `text` without the letters, marks and blanks at either end (UTF-8 text; what lies between
/// the first and last kept character stays). A byte that does not start a valid UTF-8
/// character is kept, and ends the trim on its side. Gives a view into `text`.
std::string_view trimVersionArgument(std::string_view text) noexcept;

/// Orders two version texts: -1, 0 or 1, digit runs compared by value ("10.9" before
/// "10.14"), the same order as the volume list's names.
inline int compareVersionTexts(std::string_view a, std::string_view b) noexcept {
  return text::numericCompare(a, b);
}

}  // namespace strandel::system
