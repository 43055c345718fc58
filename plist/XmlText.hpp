// The texts inside XML property-list elements, read as numbers, dates and data.
#pragma once

#include <optional>
#include <string_view>

#include <strandel/PlistValue.hpp>

#include "plist/PlistReader.hpp"

namespace strandel::plist {

/// The text of an <integer>: a sign, then digits as C reads them in any locale (0x for hex, a
/// leading 0 for octal), saturating at the unsigned maximum; a negative number wraps. Text
/// that holds no digits reads as 0.
PlistValue integerOf(std::string_view text) noexcept;

/// The text of a <real>: decimal or hex digits, inf or nan, as C reads them in the "C" locale;
/// what follows the number is ignored, and text with no number reads as 0.
double realOf(std::string_view text) noexcept;

/// The text of a <date>, "2001-01-01T00:00:00Z" (a year of up to nine digits, maybe negative),
/// as seconds since 2001; nothing for another form.
std::optional<double> dateOf(std::string_view text) noexcept;

/// The text of a <data>, base64 in groups of four with white space anywhere; nothing for
/// other characters, misplaced padding or a group cut short.
std::optional<PlistData> dataOf(std::string_view text);

}  // namespace strandel::plist
