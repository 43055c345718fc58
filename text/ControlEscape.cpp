#include "text/ControlEscape.hpp"

#include "base/Utf8.hpp"

namespace strandel::text {
namespace {

void appendHex(std::string& out, unsigned char byte) {
  static constexpr char kDigits[] = "0123456789abcdef";
  out += "\\x";
  out += kDigits[byte >> 4];
  out += kDigits[byte & 0xf];
}

bool isControl(std::string_view character) {
  auto first = static_cast<unsigned char>(character[0]);
  if (character.size() == 1) return first < 0x20 || first == 0x7f;
  // U+0080 to U+009F, which some terminals take as the C1 controls (0x9b opens a sequence).
  return character.size() == 2 && first == 0xc2 && static_cast<unsigned char>(character[1]) < 0xa0;
}

}  // namespace

std::string escapedControls(std::string_view text, LineBreaks lineBreaks) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    std::size_t length = base::utf8SequenceLength(text.substr(i));
    if (length == 0) {
      appendHex(out, static_cast<unsigned char>(text[i]));
      ++i;
      continue;
    }
    std::string_view character = text.substr(i, length);
    bool kept = lineBreaks == LineBreaks::Keep && (character == "\n" || character == "\t");
    if (isControl(character) && !kept) {
      for (char byte : character) appendHex(out, static_cast<unsigned char>(byte));
    } else if (character == "\\" && text.substr(i + 1).starts_with('x')) {
      appendHex(out, '\\');
    } else {
      out += character;
    }
    i += length;
  }
  return out;
}

}  // namespace strandel::text
