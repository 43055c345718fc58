#include "platform/app/StringsTable.hpp"

#include <cstdint>

#include <strandel/PlistValue.hpp>

#include "base/Utf8.hpp"
#include "text/CharacterClass.hpp"

namespace strandel::platform {
namespace {

bool isHighSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool isLowSurrogate(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// UTF-16 in the given byte order to UTF-8; nothing for an odd length or a lone surrogate.
std::optional<std::string> utf16ToUtf8(std::string_view bytes, bool bigEndian) {
  if (bytes.size() % 2 != 0) return std::nullopt;
  auto unitAt = [&](std::size_t i) -> char32_t {
    auto first = static_cast<unsigned char>(bytes[i]),
         second = static_cast<unsigned char>(bytes[i + 1]);
    return bigEndian ? (first << 8 | second) : (second << 8 | first);
  };
  std::string out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size(); i += 2) {
    char32_t unit = unitAt(i);
    if (isHighSurrogate(unit)) {
      if (i + 3 >= bytes.size() || !isLowSurrogate(unitAt(i + 2))) return std::nullopt;
      unit = 0x10000 + ((unit - 0xD800) << 10) + (unitAt(i + 2) - 0xDC00);
      i += 2;
    } else if (isLowSurrogate(unit)) {
      return std::nullopt;
    }
    base::appendUtf8(out, unit);
  }
  return out;
}

// The file's text as UTF-8, from whichever encoding its first bytes show.
std::optional<std::string> decodeText(std::string_view bytes) {
  if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
  else if (bytes.starts_with("\xFF\xFE")) return utf16ToUtf8(bytes.substr(2), false);
  else if (bytes.starts_with("\xFE\xFF")) return utf16ToUtf8(bytes.substr(2), true);
  // UTF-16 that lost its mark still shows itself: text never starts with a NUL byte, and ASCII
  // text in UTF-16 has a NUL beside its first character.
  else if (bytes.size() >= 2 && bytes[0] != '\0' && bytes[1] == '\0')
    return utf16ToUtf8(bytes, false);
  else if (bytes.size() >= 2 && bytes[0] == '\0' && bytes[1] != '\0')
    return utf16ToUtf8(bytes, true);
  if (!base::isValidUtf8(bytes)) return std::nullopt;
  return std::string(bytes);
}

std::optional<StringsTable> fromPlist(std::string_view bytes) {
  auto value = readPlist(bytes);
  if (!value || !value->asDictionary()) return std::nullopt;
  StringsTable table;
  for (const auto& [key, entry] : *value->asDictionary()) {
    // A table holds UTF-8 texts; anything else in it can't be a translation and is passed over.
    // (An XML property list is UTF-8 throughout, but a binary one may carry any bytes.)
    const std::string* text = entry.asString();
    if (text && base::isValidUtf8(key) && base::isValidUtf8(*text))
      table.insert_or_assign(key, *text);
  }
  return table;
}

bool isUnquotedCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '.' || c == '-' || c == '$' || c == ':' || c == '/' || c == '+';
}

// The text form. Every step either advances or fails, so any input ends.
class TextParser {
 public:
  explicit TextParser(std::string_view text) : text_(text) {}

  std::optional<StringsTable> parse() {
    StringsTable table;
    if (!skipSpace()) return std::nullopt;
    // The old property-list form of the same table, wrapped in braces, is read as well.
    bool braced = consume('{');
    for (;;) {
      if (!skipSpace()) return std::nullopt;
      if (atEnd() || (braced && peek() == '}')) break;
      auto key = readString();
      if (!key || !skipSpace()) return std::nullopt;
      if (consume(';')) {
        table.insert_or_assign(*key, *key);
        continue;
      }
      if (!consume('=') || !skipSpace()) return std::nullopt;
      auto value = readString();
      if (!value || !skipSpace() || !consume(';')) return std::nullopt;
      table.insert_or_assign(std::move(*key), std::move(*value));
    }
    if (braced && !consume('}')) return std::nullopt;
    if (!skipSpace() || !atEnd()) return std::nullopt;
    return table;
  }

 private:
  bool atEnd() const { return pos_ >= text_.size(); }
  char peek() const { return text_[pos_]; }
  bool consume(char c) {
    if (atEnd() || peek() != c) return false;
    ++pos_;
    return true;
  }

  // Skips blanks, line ends and comments; false for a comment that never closes.
  bool skipSpace() {
    while (!atEnd()) {
      char c = peek();
      if (text::isCSpace(c)) {
        ++pos_;
      } else if (text_.substr(pos_).starts_with("//")) {
        std::size_t end = text_.find('\n', pos_);
        pos_ = end == std::string_view::npos ? text_.size() : end + 1;
      } else if (text_.substr(pos_).starts_with("/*")) {
        std::size_t end = text_.find("*/", pos_ + 2);
        if (end == std::string_view::npos) return false;
        pos_ = end + 2;
      } else {
        break;
      }
    }
    return true;
  }

  std::optional<std::string> readString() {
    if (atEnd()) return std::nullopt;
    if (consume('"')) return readQuoted();
    std::size_t start = pos_;
    while (!atEnd() && isUnquotedCharacter(peek())) ++pos_;
    if (pos_ == start) return std::nullopt;
    return std::string(text_.substr(start, pos_ - start));
  }

  std::optional<std::string> readQuoted() {
    std::string out;
    while (!atEnd()) {
      char c = text_[pos_++];
      if (c == '"') return out;
      if (c != '\\') {
        out.push_back(c);
        continue;
      }
      if (atEnd()) return std::nullopt;
      char e = text_[pos_++];
      switch (e) {
        case 'n':
          out.push_back('\n');
          break;
        case 't':
          out.push_back('\t');
          break;
        case 'r':
          out.push_back('\r');
          break;
        case 'a':
          out.push_back('\a');
          break;
        case 'b':
          out.push_back('\b');
          break;
        case 'f':
          out.push_back('\f');
          break;
        case 'v':
          out.push_back('\v');
          break;
        case 'U':
        case 'u':
          base::appendUtf8(out, readUnicodeEscape());
          break;
        default:
          if (e >= '0' && e <= '7') {
            // Up to three octal digits: the character of that value (below U+0100).
            char32_t value = static_cast<char32_t>(e - '0');
            for (int digits = 1; digits < 3 && !atEnd() && peek() >= '0' && peek() <= '7';
                 ++digits) {
              value = value * 8 + static_cast<char32_t>(text_[pos_++] - '0');
            }
            base::appendUtf8(out, value);
          } else {
            // \" and \\ stand for themselves, and so does any other escaped character.
            out.push_back(e);
          }
      }
    }
    return std::nullopt;
  }

  // Up to four hex digits after \U. A high surrogate followed by an escaped low one makes one
  // character; a surrogate without its partner becomes U+FFFD, as it can't be UTF-8.
  char32_t readUnicodeEscape() {
    char32_t unit = readHexUnit();
    if (isHighSurrogate(unit) && text_.substr(pos_).size() >= 3 && text_[pos_] == '\\' &&
        (text_[pos_ + 1] == 'U' || text_[pos_ + 1] == 'u')) {
      std::size_t mark = pos_;
      pos_ += 2;
      char32_t low = readHexUnit();
      if (isLowSurrogate(low)) return 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
      pos_ = mark;
    }
    if (isHighSurrogate(unit) || isLowSurrogate(unit)) return 0xFFFD;
    return unit;
  }

  char32_t readHexUnit() {
    char32_t value = 0;
    for (int digits = 0; digits < 4 && !atEnd() && text::hexValue(peek()); ++digits) {
      value = value * 16 + static_cast<char32_t>(*text::hexValue(text_[pos_++]));
    }
    return value;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

}  // namespace

std::optional<StringsTable> parseStringsTable(std::string_view bytes) {
  if (bytes.starts_with("bplist")) return fromPlist(bytes);
  auto text = decodeText(bytes);
  if (!text) return std::nullopt;
  std::size_t first = text->find_first_not_of(" \t\r\n");
  if (first != std::string::npos && (*text)[first] == '<') return fromPlist(*text);
  return TextParser(*text).parse();
}

}  // namespace strandel::platform
