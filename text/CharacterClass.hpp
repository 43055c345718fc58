// Character classes and letter case by ASCII alone, whatever the process's locale: the texts
// they judge are written by machines (UUIDs, partition types, escapes), where a locale's own
// rules would be wrong.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace strandel::text {

/// The value of a hexadecimal digit, either case; nothing for any other character.
constexpr std::optional<int> hexValue(char c) noexcept {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return std::nullopt;
}

constexpr char asciiUpper(char c) noexcept {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

constexpr char asciiLower(char c) noexcept {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

/// Blanks as text listings pad their columns with them: spaces and tabs.
constexpr bool isBlank(char c) noexcept { return c == ' ' || c == '\t'; }

/// White space as XML (and JSON) have it: space, tab, carriage return, line feed.
constexpr bool isXmlSpace(char c) noexcept {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

/// White space as C's isspace has it in the "C" locale, vertical tab and form feed included:
/// the rule of texts that other programs read with C's number and string functions.
constexpr bool isCSpace(char c) noexcept { return c == ' ' || (c >= '\t' && c <= '\r'); }

/// `text` without blanks at either end.
constexpr std::string_view trimmed(std::string_view text) noexcept {
  while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
  return text;
}

/// Whether `text` holds a NUL, which would cut it short where it is handed on as a C string.
constexpr bool hasNul(std::string_view text) noexcept {
  return text.find('\0') != std::string_view::npos;
}

/// `text` with a to z made upper case and every other byte as it was.
inline std::string asciiUppercased(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = asciiUpper(c);
  return out;
}

/// `text` with A to Z made lower case and every other byte as it was.
inline std::string asciiLowercased(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = asciiLower(c);
  return out;
}

}  // namespace strandel::text
