#include "machineimage/Checking.hpp"

#include <cstdio>

#include "base/Utf8.hpp"

namespace strandel::machineimage {
namespace {

// Long enough to recognise a value, short enough that the line stays readable.
constexpr std::size_t kQuotedLimit = 80;

void appendEscaped(std::string& out, unsigned char byte) {
  char hex[5];
  std::snprintf(hex, sizeof hex, "\\x%02X", byte);
  out += hex;
}

}  // namespace

std::string Place::text() const {
  std::string out;
  append(out);
  return out.empty() ? std::string("top level") : out;
}

void Place::append(std::string& out) const {
  if (!parent_) return;
  parent_->append(out);
  if (isIndex_) {
    out += '[';
    out += std::to_string(index_);
    out += ']';
    return;
  }
  if (!out.empty()) out += '.';
  // Keys are outside text too: a line feed in a key must not break the line.
  std::string key = quoted(key_);
  bool plain = key.size() == key_.size() + 2;
  out += plain ? std::string(key_) : key;
}

std::string_view kindName(const PlistValue& value) {
  switch (value.kind()) {
    case PlistValue::Kind::String:
      return "a string";
    case PlistValue::Kind::Integer:
    case PlistValue::Kind::UnsignedInteger:
      return "an integer";
    case PlistValue::Kind::Real:
      return "a real";
    case PlistValue::Kind::Boolean:
      return "a boolean";
    case PlistValue::Kind::Data:
      return "data";
    case PlistValue::Kind::Date:
      return "a date";
    case PlistValue::Kind::Url:
      return "a URL";
    case PlistValue::Kind::Array:
      return "an array";
    case PlistValue::Kind::Dictionary:
      return "a dictionary";
  }
  return "a value";
}

std::string quoted(std::string_view text) {
  std::string out = "\"";
  std::size_t shown = 0;
  while (!text.empty()) {
    if (shown >= kQuotedLimit) {
      out += "...";
      break;
    }
    auto c = static_cast<unsigned char>(text.front());
    std::size_t length = base::utf8SequenceLength(text);
    if (length == 0 || c < 0x20 || c == 0x7F) {
      appendEscaped(out, c);
      length = 1;
    } else if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else {
      out.append(text.substr(0, length));
    }
    text.remove_prefix(length);
    ++shown;
  }
  out += '"';
  return out;
}

}  // namespace strandel::machineimage
