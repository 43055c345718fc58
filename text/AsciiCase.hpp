// Letter case by ASCII alone, whatever the process's locale: the texts it changes are written by
// machines (UUIDs, partition types), where a locale's own upper case would be wrong.
#pragma once

#include <string>
#include <string_view>

namespace strandel::text {

constexpr char asciiUpper(char c) noexcept { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

/// `text` with a to z made upper case and every other byte as it was.
inline std::string asciiUppercased(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = asciiUpper(c);
  return out;
}

}  // namespace strandel::text
