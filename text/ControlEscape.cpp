#include "text/ControlEscape.hpp"

#include <cstdint>

namespace strandel::detail {
namespace {

// The length of the well-formed UTF-8 sequence at the start of `text`, 0 when there is none
// (overlong forms, surrogates and code points past U+10FFFF included).
std::size_t sequenceLength(std::string_view text) {
  auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
  auto continuation = [&](std::size_t i) { return i < text.size() && (byte(i) & 0xC0) == 0x80; };
  std::uint8_t lead = byte(0);
  if (lead >= 0xC2 && lead <= 0xDF) return continuation(1) ? 2 : 0;
  if (lead >= 0xE0 && lead <= 0xEF) {
    if (!continuation(1) || !continuation(2)) return 0;
    if (lead == 0xE0 && byte(1) < 0xA0) return 0;
    if (lead == 0xED && byte(1) >= 0xA0) return 0;
    return 3;
  }
  if (lead >= 0xF0 && lead <= 0xF4) {
    if (!continuation(1) || !continuation(2) || !continuation(3)) return 0;
    if (lead == 0xF0 && byte(1) < 0x90) return 0;
    if (lead == 0xF4 && byte(1) >= 0x90) return 0;
    return 4;
  }
  return 0;
}

void appendEscaped(std::string& out, std::uint8_t byte) {
  constexpr char kHex[] = "0123456789abcdef";
  out += "\\x";
  out += kHex[byte >> 4];
  out += kHex[byte & 0xF];
}

}  // namespace

std::string escapedControls(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    auto byte = static_cast<std::uint8_t>(text[i]);
    if (byte < 0x80) {
      if ((byte < 0x20 && byte != '\n' && byte != '\t') || byte == 0x7F) {
        appendEscaped(out, byte);
      } else {
        out += static_cast<char>(byte);
      }
      ++i;
      continue;
    }
    std::size_t length = sequenceLength(text.substr(i));
    // U+0080 to U+009F: the C1 controls, which some terminals obey.
    bool c1 = length == 2 && byte == 0xC2 && static_cast<std::uint8_t>(text[i + 1]) < 0xA0;
    if (length == 0 || c1) {
      for (std::size_t k = 0; k < (c1 ? 2 : 1); ++k) appendEscaped(out, static_cast<std::uint8_t>(text[i + k]));
      i += c1 ? 2 : 1;
      continue;
    }
    out.append(text.substr(i, length));
    i += length;
  }
  return out;
}

}  // namespace strandel::detail
