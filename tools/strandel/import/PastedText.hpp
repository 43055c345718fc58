// What a customer pastes instead of a recorded file: a terminal session with the tool's output
// between prompt lines.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace strandel::importer {

/// The property list inside `text`: from its first "<?xml" (else its first "<plist") to the
/// first "</plist>" after that, both included. Nothing when there is no such span, or when the
/// span is all the text holds apart from blanks and line ends (then the text is the list).
/// One pass over the text, whatever it holds.
std::optional<std::string_view> propertyListSpan(std::string_view text);

/// `text` with its line ends made line feeds: CR LF (a recording pasted from a ticket or a
/// Windows editor) and a lone CR (an old Mac editor) each become one LF. Nothing when `text`
/// holds no CR, or is a binary property list (whose bytes are no text).
std::optional<std::string> withLineFeeds(std::string_view text);

}  // namespace strandel::importer
