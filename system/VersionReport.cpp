#include "system/VersionReport.hpp"

#include <cstdio>
#include <vector>

#include "base/Utf8.hpp"

namespace strandel::system {
namespace {

// White space and line ends (Unicode Z, U+000A to U+000D, U+0085, and the tab), as they
// appear among single bytes: the output is decoded byte for byte as Latin-1, so the only
// members that can occur are these eight.
bool isWhitespaceOrNewline(unsigned char c) noexcept {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0;
}

std::string_view trimWhitespace(std::string_view text) noexcept {
  while (!text.empty() && isWhitespaceOrNewline(static_cast<unsigned char>(text.front())))
    text.remove_prefix(1);
  while (!text.empty() && isWhitespaceOrNewline(static_cast<unsigned char>(text.back())))
    text.remove_suffix(1);
  return text;
}

// Letters, digits and "_" stand bare in the old-style form; anything else is quoted, so the
// line reads back as the dictionary it shows.
bool needsQuotes(std::string_view text) noexcept {
  if (text.empty()) return true;
  for (char c : text) {
    bool bare =
        (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
    if (!bare) return true;
  }
  return false;
}

void appendText(std::string& out, std::string_view text) {
  if (!needsQuotes(text)) {
    out += text;
    return;
  }
  out += '"';
  for (char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
          // Control characters would break the one log line; they go as escapes.
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\U%04x",
                        static_cast<unsigned>(static_cast<unsigned char>(c)));
          out += escape;
        } else {
          out += c;
        }
    }
  }
  out += '"';
}

void appendValue(std::string& out, const PlistValue& value) {
  if (const std::string* text = value.asString()) {
    appendText(out, *text);
  } else if (const PlistDict* dict = value.asDictionary()) {
    out += describeForLog(*dict);
  } else if (const PlistArray* array = value.asArray()) {
    out += '(';
    for (std::size_t i = 0; i < array->size(); ++i) {
      if (i) out += ", ";
      appendValue(out, (*array)[i]);
    }
    out += ')';
  } else {
    // Only texts come from the version tool; other kinds show in their JSON form.
    appendText(out, writeJson(value));
  }
}

}  // namespace

std::string versionFromToolOutput(std::string_view bytes) {
  return base::decodeLatin1(bytes.substr(0, bytes.find('\n')));
}

PlistDict versionDictionaryFromToolOutput(std::string_view bytes) {
  PlistDict dictionary;
  while (!bytes.empty()) {
    std::size_t end = bytes.find('\n');
    std::string_view line = bytes.substr(0, end);
    bytes.remove_prefix(end == std::string_view::npos ? bytes.size() : end + 1);

    std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    std::string_view key = line.substr(0, colon);
    std::string_view rest = line.substr(colon + 1);
    // Pieces after the second are dropped: a value that holds a colon is cut there.
    std::string_view value = trimWhitespace(rest.substr(0, rest.find(':')));
    dictionary.insert_or_assign(base::decodeLatin1(key), PlistValue(base::decodeLatin1(value)));
  }
  return dictionary;
}

std::string describeForLog(const PlistDict& dictionary) {
  std::string out = "{";
  for (const auto& [key, value] : dictionary) {
    out += ' ';
    appendText(out, key);
    out += " = ";
    appendValue(out, value);
    out += ';';
  }
  out += " }";
  return out;
}

}  // namespace strandel::system
