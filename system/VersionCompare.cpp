#include "system/VersionCompare.hpp"

#include <cstddef>

#include "base/Utf8.hpp"

namespace strandel::system {
namespace {

// The code point of the valid UTF-8 character of `length` bytes at the start of `text`.
char32_t codePointAt(std::string_view text, std::size_t length) noexcept {
  auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  switch (length) {
    case 1:
      return byte(0);
    case 2:
      return (char32_t(byte(0) & 0x1F) << 6) | (byte(1) & 0x3F);
    case 3:
      return (char32_t(byte(0) & 0x0F) << 12) | (char32_t(byte(1) & 0x3F) << 6) | (byte(2) & 0x3F);
    default:
      return (char32_t(byte(0) & 0x07) << 18) | (char32_t(byte(1) & 0x3F) << 12) |
             (char32_t(byte(2) & 0x3F) << 6) | (byte(3) & 0x3F);
  }
}

// The length of the valid UTF-8 character that ends `text`, or 0 when it does not end with one.
std::size_t lastCharacterLength(std::string_view text) noexcept {
  std::size_t start = text.size();
  // A character is at most four bytes: a lead byte and up to three continuation bytes.
  for (std::size_t back = 1; back <= 4 && back <= text.size(); ++back) {
    --start;
    if ((static_cast<unsigned char>(text[start]) & 0xC0) != 0x80) break;
  }
  std::size_t length = text.size() - start;
  return base::utf8SequenceLength(text.substr(start)) == length ? length : 0;
}

}  // namespace

std::string_view trimVersionArgument(std::string_view text) noexcept {
  // Versions and the words around them are mostly ASCII: an ASCII byte is a whole character,
  // told apart without decoding it, and only the others go through the Unicode table.
  auto asciiTrim = [](unsigned char c) {
    return c == '\t' || c == ' ' || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z');
  };
  while (!text.empty()) {
    auto first = static_cast<unsigned char>(text.front());
    if (first < 0x80) {
      if (!asciiTrim(first)) break;
      text.remove_prefix(1);
      continue;
    }
    std::size_t length = base::utf8SequenceLength(text);
    if (length == 0 || !isVersionTrimCharacter(codePointAt(text, length))) break;
    text.remove_prefix(length);
  }
  while (!text.empty()) {
    auto last = static_cast<unsigned char>(text.back());
    if (last < 0x80) {
      if (!asciiTrim(last)) break;
      text.remove_suffix(1);
      continue;
    }
    std::size_t length = lastCharacterLength(text);
    if (length == 0 ||
        !isVersionTrimCharacter(codePointAt(text.substr(text.size() - length), length)))
      break;
    text.remove_suffix(length);
  }
  return text;
}

}  // namespace strandel::system
