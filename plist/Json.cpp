// JSON writing of property-list values, for the tool's --format json.
#include <charconv>
#include <cmath>
#include <ctime>
#include <string>

#include <strandel/PlistValue.hpp>

#include "base/Utf8.hpp"

namespace strandel::plist {
namespace {

void appendString(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += '"';
  std::size_t i = 0;
  while (i < text.size()) {
    // Most text is printable ASCII that stands as it is: appended a run at a time.
    std::size_t plain = i;
    while (plain < text.size()) {
      const unsigned char c = static_cast<unsigned char>(text[plain]);
      if (c < 0x20 || c >= 0x7f || c == '"' || c == '\\') break;
      ++plain;
    }
    out.append(text.data() + i, plain - i);
    i = plain;
    if (i == text.size()) break;
    std::size_t n = base::utf8SequenceLength(text.substr(i));
    if (n == 0) {
      out += "\\ufffd";  // a byte that starts no valid character
      ++i;
      continue;
    }
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (n > 1) {
      out.append(text.substr(i, n));
    } else if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c < 0x20 || c == 0x7f) {
      out += "\\u00";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
    i += n;
  }
  out += '"';
}

std::string base64(const std::vector<std::uint8_t>& bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    std::uint32_t n = bytes[i] << 16 | bytes[i + 1] << 8 | bytes[i + 2];
    for (int shift : {18, 12, 6, 0}) out += kAlphabet[(n >> shift) & 63];
  }
  if (i + 1 == bytes.size()) {
    std::uint32_t n = bytes[i] << 16;
    out += kAlphabet[(n >> 18) & 63];
    out += kAlphabet[(n >> 12) & 63];
    out += "==";
  } else if (i + 2 == bytes.size()) {
    std::uint32_t n = bytes[i] << 16 | bytes[i + 1] << 8;
    out += kAlphabet[(n >> 18) & 63];
    out += kAlphabet[(n >> 12) & 63];
    out += kAlphabet[(n >> 6) & 63];
    out += '=';
  }
  return out;
}

std::string isoDate(double secondsSince2001) {
  constexpr double kUnixOf2001 = 978307200.0;
  double unixSeconds = std::floor(secondsSince2001 + kUnixOf2001);
  if (!std::isfinite(unixSeconds) || std::fabs(unixSeconds) > 1e13) return "";
  std::time_t t = static_cast<std::time_t>(unixSeconds);
  std::tm tm{};
  if (!gmtime_r(&t, &tm)) return "";
  char buffer[64];
  std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return buffer;
}

void appendValue(std::string& out, const PlistValue& value) {
  switch (value.kind()) {
    case PlistValue::Kind::String:
      appendString(out, *value.asString());
      break;
    case PlistValue::Kind::Integer:
      out += std::to_string(*value.asInteger());
      break;
    case PlistValue::Kind::UnsignedInteger:
      out += std::to_string(*value.asUnsignedInteger());
      break;
    case PlistValue::Kind::Real: {
      double v = *value.asReal();
      if (!std::isfinite(v)) {
        out += "null";
        break;
      }
      // The digits of "%.17g", which round-trip every double, without the locale's decimal
      // comma that would make the JSON invalid.
      char buffer[32];
      auto [end, error] =
          std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::general, 17);
      out.append(buffer, error == std::errc() ? end : buffer);
      break;
    }
    case PlistValue::Kind::Boolean:
      out += *value.asBoolean() ? "true" : "false";
      break;
    case PlistValue::Kind::Data:
      appendString(out, base64(value.asData()->bytes));
      break;
    case PlistValue::Kind::Date:
      appendString(out, isoDate(value.asDate()->secondsSince2001));
      break;
    case PlistValue::Kind::Url:
      appendString(out, value.asUrl()->text);
      break;
    case PlistValue::Kind::Array: {
      out += '[';
      bool first = true;
      for (const auto& item : *value.asArray()) {
        if (!first) out += ',';
        first = false;
        appendValue(out, item);
      }
      out += ']';
      break;
    }
    case PlistValue::Kind::Dictionary: {
      out += '{';
      bool first = true;
      for (const auto& [key, item] : *value.asDictionary()) {
        if (!first) out += ',';
        first = false;
        appendString(out, key);
        out += ':';
        appendValue(out, item);
      }
      out += '}';
      break;
    }
  }
}

}  // namespace
}  // namespace strandel::plist

namespace strandel {

std::string writeJson(const PlistValue& value) {
  std::string out;
  plist::appendValue(out, value);
  return out;
}

}  // namespace strandel
