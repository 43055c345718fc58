// Reading the values of a disk description and of registry properties with the defaults of
// the volume catalogue: a value that is absent, or of a kind the reader can't use, reads as
// "", false, 0 or no URL, so no record ever holds a null.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <strandel/PlistValue.hpp>

namespace strandel {

/// The text under `key`; "" when absent or not a text.
std::string descriptionText(const PlistDict& description, std::string_view key);

/// The same text as a view into `description`, valid while the dictionary lives unchanged.
std::string_view descriptionTextView(const PlistDict& description, std::string_view key);

/// The flag under `key`: a boolean, or a number by its truth; false otherwise.
bool descriptionFlag(const PlistDict& description, std::string_view key);

/// The byte count under `key`, as the unsigned 64-bit number the record holds: integers keep
/// their bit pattern (a signed count is read as signed and then taken as unsigned), reals are
/// truncated toward zero when they fit; 0 otherwise.
std::uint64_t descriptionByteCount(const PlistDict& description, std::string_view key);

/// The text of the mount URL under `key`: a URL value, or a text taken as the URL's text;
/// nothing when absent, empty or of another kind. A view into `description`.
std::optional<std::string_view> descriptionUrl(const PlistDict& description, std::string_view key);

/// A registry property read as a truth value, as the platform's boolean conversion reads it:
/// absent is false, a boolean is itself, a number is true when not zero, a text is true when
/// (after blanks, a sign and leading zeros) it starts with "Y", "y", "T", "t" or a digit 1 to 9.
/// Any other kind (data, a date, a URL, an array or dictionary) is true when present and not
/// empty: a registry marks a disk image by giving it such an identifier.
bool registryTruth(const std::optional<PlistValue>& property);

/// The first entry of a "Role" property; "" when absent, empty, or not a text. A bare text is
/// taken as a one-entry list.
std::string firstRole(const std::optional<PlistValue>& property);

/// The text of a registry property that holds a text or a URL; "" otherwise.
std::string registryText(const std::optional<PlistValue>& property);

}  // namespace strandel
