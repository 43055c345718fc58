// Translation tables of the host application: `.strings` files.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace strandel::platform {

/// A translation table: key to translated text, both UTF-8.
using StringsTable = std::map<std::string, std::string, std::less<>>;

/// The entries of a `.strings` file's bytes. Two forms are read: a property list (XML or
/// binary) holding a dictionary of strings, whose entries that are not UTF-8 strings are left
/// out; and the text form of `"key" = "value";` entries with `/* */` and `//` comments, quoted
/// strings with the escapes \" \\ \n \t \r \UXXXX (and \a \b \f \v, octal), unquoted words of
/// letters, digits and `_ . - $ : / +`, and `"key";` for a key that is its own value. Text is
/// UTF-8, or UTF-16 with a byte-order mark (either order). A later entry for a key replaces an
/// earlier one. Nothing when the bytes are neither form (a malformed file counts as none).
std::optional<StringsTable> parseStringsTable(std::string_view bytes);

}  // namespace strandel::platform
