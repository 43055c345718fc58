// UTF-8 validation and encoding, shared by every place that decodes outside bytes as UTF-8.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace strandel::base {

/// The length a character announces by its first byte (1 to 4); 0 for a byte that can't begin
/// one (a continuation byte, C0, C1, F5 and above).
std::size_t utf8LeadLength(unsigned char lead) noexcept;

/// The length of the valid UTF-8 character at the start of `text` (1 to 4), or 0 when it does
/// not start with one (an overlong form, a surrogate, a value above U+10FFFF, a cut sequence).
std::size_t utf8SequenceLength(std::string_view text) noexcept;

/// Whether all of `text` is valid UTF-8.
bool isValidUtf8(std::string_view text) noexcept;

/// `bytes` as text when they are valid UTF-8, else nothing.
std::optional<std::string> decodeUtf8(std::string_view bytes);

/// Appends code point `c` as UTF-8. A surrogate is written as the three bytes of the code point
/// it names; callers that must refuse lone surrogates check before appending.
void appendUtf8(std::string& out, char32_t c);

/// Bytes decoded as ASCII where every byte is accepted: a byte above 127 stands for the
/// Latin-1 character of the same value, so the result is UTF-8 text.
std::string decodeLatin1(std::string_view bytes);

}  // namespace strandel::base
