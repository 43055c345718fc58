// A tool's standard error as the sandbox passes it on: whatever the bytes, the text that
// reaches the terminal holds no control character but line feed and tab, is well-formed UTF-8,
// and gives back the input where the input was printable.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/FuzzCheck.hpp"
#include "text/ControlEscape.hpp"

namespace {

using strandel::fuzz::check;

// Well-formed UTF-8 with no C0 control but line feed and tab, no DEL and no C1 control.
bool safeForTerminal(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    auto byte = static_cast<std::uint8_t>(text[i]);
    if (byte < 0x80) {
      if ((byte < 0x20 && byte != '\n' && byte != '\t') || byte == 0x7F) return false;
      ++i;
      continue;
    }
    std::size_t length = byte > 0xF4    ? 0
                         : byte >= 0xF0 ? 4
                         : byte >= 0xE0 ? 3
                         : byte >= 0xC2 ? 2
                                        : 0;
    if (length == 0 || i + length > text.size()) return false;
    auto second = static_cast<std::uint8_t>(text[i + 1]);
    if (byte == 0xC2 && second < 0xA0) return false;  // C1 controls
    // Overlong forms, surrogates, past U+10FFFF.
    if ((byte == 0xE0 && second < 0xA0) || (byte == 0xED && second >= 0xA0) ||
        (byte == 0xF0 && second < 0x90) || (byte == 0xF4 && second >= 0x90))
      return false;
    for (std::size_t k = 1; k < length; ++k)
      if ((static_cast<std::uint8_t>(text[i + k]) & 0xC0) != 0x80) return false;
    i += length;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::string shown = strandel::text::escapedControls(input, strandel::text::LineBreaks::Keep);
  check(safeForTerminal(shown), "a control character or broken UTF-8 reached the terminal");
  check(shown.size() >= input.size() && shown.size() <= 8 * input.size(),
        "the escaped text's length");
  bool printable = true;
  for (char c : input)
    if (static_cast<std::uint8_t>(c) < 0x80 &&
        ((c < 0x20 && c != '\n' && c != '\t') || c == 0x7F || c == '\\'))
      printable = false;
  if (printable && safeForTerminal(input)) check(shown == input, "printable text was changed");
  return 0;
}
