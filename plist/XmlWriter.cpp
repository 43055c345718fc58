// The XML property-list form, written as Apple's tools write it: one element a line, tabs to
// show nesting, <dict/> and <array/> for empty containers.
#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "base/Utf8.hpp"
#include "plist/PlistWriter.hpp"
#include "plist/XmlStream.hpp"

namespace strandel::plist {
namespace {

// Indentation stops growing here: deeper lines would make the output grow with the square of the
// nesting, and readers ignore the white space between elements anyway.
constexpr std::size_t kMaxIndent = 32;

// Dates XML readers take: four-digit years, 0001-01-01T00:00:00Z to 9999-12-31T23:59:59Z.
constexpr CivilTime kFirstDate{1, 1, 1, 0, 0, 0}, kLastDate{9999, 12, 31, 23, 59, 59};

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// XML 1.0 characters: tab, line feed, carriage return and U+0020 up, less U+FFFE and U+FFFF
// (surrogates are no UTF-8 at all).
bool isXmlCharacter(char32_t c) {
  return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c != 0xFFFE && c != 0xFFFF);
}

char32_t codePointOf(std::string_view s, std::size_t n) {
  auto b = [&](std::size_t i) { return static_cast<char32_t>(static_cast<unsigned char>(s[i])); };
  if (n == 1) return b(0);
  if (n == 2) return (b(0) & 0x1F) << 6 | (b(1) & 0x3F);
  if (n == 3) return (b(0) & 0x0F) << 12 | (b(1) & 0x3F) << 6 | (b(2) & 0x3F);
  return (b(0) & 0x07) << 18 | (b(1) & 0x3F) << 12 | (b(2) & 0x3F) << 6 | (b(3) & 0x3F);
}

// The text goes to the sink in pieces of about this size: large enough that a write call is
// rare, small enough that a list of any length costs a fixed amount of memory as text.
constexpr std::size_t kPiece = 64 * 1024;

constexpr char kHeader[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
    "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
    "<plist version=\"1.0\">\n";

}  // namespace

XmlStream::XmlStream(WriteMode mode, ByteSink sink) : mode_(mode), sink_(std::move(sink)) {
  out_ = kHeader;
}

bool XmlStream::refuse() {
  stopped_ = refused_ = true;
  return false;
}

bool XmlStream::flushIfFull() {
  if (stopped_) return false;
  if (!sink_ || out_.size() < kPiece) return true;
  if (!sink_(out_)) {
    stopped_ = true;
    return false;
  }
  out_.clear();
  return true;
}

// An open container's tag waits for its first entry, so that an empty one is written as
// <dict/> or <array/>, as a whole value would be.
void XmlStream::startInside() {
  if (open_.empty() || open_.back().written) return;
  indent(open_.size() - 1);
  out_ += open_.back().array ? "<array>\n" : "<dict>\n";
  open_.back().written = true;
}

bool XmlStream::open(bool array) {
  if (stopped_) return false;
  startInside();
  open_.push_back(Open{array, false});
  return true;
}

bool XmlStream::close() {
  if (stopped_ || open_.empty()) return false;
  const Open last = open_.back();
  open_.pop_back();
  indent(open_.size());
  if (!last.written) {
    out_ += last.array ? "<array/>\n" : "<dict/>\n";
  } else {
    out_ += last.array ? "</array>\n" : "</dict>\n";
  }
  return flushIfFull();
}

bool XmlStream::key(std::string_view key) {
  if (stopped_) return false;
  startInside();
  indent(depth());
  out_ += "<key>";
  if (!text(key)) return refuse();
  out_ += "</key>\n";
  return flushIfFull();
}

bool XmlStream::value(const PlistValue& value) {
  if (stopped_) return false;
  startInside();
  return walk(value);
}

bool XmlStream::finish() {
  while (!open_.empty()) {
    if (!close()) return false;
  }
  if (stopped_) return false;
  out_ += "</plist>\n";
  if (sink_) {
    if (!sink_(out_)) {
      stopped_ = true;
      return false;
    }
    out_.clear();
  }
  return true;
}

bool XmlStream::walk(const PlistValue& root) {
  const std::size_t base = stack_.size();
  if (!stepInto(root)) return refuse();
  while (stack_.size() > base) {
    if (!flushIfFull()) return false;
    Frame& top = stack_.back();
    if (top.array) {
      if (top.index == top.array->size()) {
        closeFrame("</array>\n");
        continue;
      }
      if (!stepInto((*top.array)[top.index++])) return refuse();
    } else {
      if (top.entry == top.dict->end()) {
        closeFrame("</dict>\n");
        continue;
      }
      const auto& [key, item] = *top.entry++;
      indent(depth());
      out_ += "<key>";
      if (!text(key)) return refuse();
      out_ += "</key>\n";
      if (!stepInto(item)) return refuse();  // `top` may move from here on
    }
  }
  return flushIfFull();
}

void XmlStream::indent(std::size_t depth) {
  out_.append(depth < kMaxIndent ? depth : kMaxIndent, '\t');
}

void XmlStream::closeFrame(const char* tag) {
  stack_.pop_back();
  indent(depth());
  out_ += tag;
}

// Writes a value; a container that is not empty is opened and left on the stack.
bool XmlStream::stepInto(const PlistValue& v) {
  indent(depth());
  switch (v.kind()) {
    case PlistValue::Kind::String:
      return element("string", *v.asString());
    case PlistValue::Kind::Url:
      return element("string", v.asUrl()->text);
    case PlistValue::Kind::Integer:
      return number("integer", *v.asInteger());
    case PlistValue::Kind::UnsignedInteger:
      return number("integer", *v.asUnsignedInteger());
    case PlistValue::Kind::Real:
      return real(*v.asReal());
    case PlistValue::Kind::Boolean:
      out_ += *v.asBoolean() ? "<true/>\n" : "<false/>\n";
      return true;
    case PlistValue::Kind::Data:
      data(v.asData()->bytes);
      return true;
    case PlistValue::Kind::Date:
      return date(v.asDate()->secondsSince2001);
    case PlistValue::Kind::Array:
      if (v.asArray()->empty()) {
        out_ += "<array/>\n";
      } else {
        out_ += "<array>\n";
        stack_.push_back(Frame{v.asArray(), nullptr, 0, {}});
      }
      return true;
    case PlistValue::Kind::Dictionary:
      if (v.asDictionary()->empty()) {
        out_ += "<dict/>\n";
      } else {
        out_ += "<dict>\n";
        stack_.push_back(Frame{nullptr, v.asDictionary(), 0, v.asDictionary()->begin()});
      }
      return true;
  }
  return true;
}

bool XmlStream::element(const char* name, std::string_view content) {
  out_ += '<';
  out_ += name;
  out_ += '>';
  if (!text(content)) return false;
  out_ += "</";
  out_ += name;
  out_ += ">\n";
  return true;
}

template <class T>
bool XmlStream::number(const char* name, T v) {
  char digits[32];
  auto end = std::to_chars(digits, digits + sizeof digits, v).ptr;
  return element(name, std::string_view(digits, static_cast<std::size_t>(end - digits)));
}

// The shortest digits that read back as the same double; the spellings every reader takes
// for the values with none.
bool XmlStream::real(double v) {
  if (std::isnan(v)) return element("real", "nan");
  if (std::isinf(v)) return element("real", v > 0 ? "+infinity" : "-infinity");
  char digits[64];
  auto end = std::to_chars(digits, digits + sizeof digits, v).ptr;
  return element("real", std::string_view(digits, static_cast<std::size_t>(end - digits)));
}

void XmlStream::data(const std::vector<std::uint8_t>& bytes) {
  out_ += "<data>";
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const std::uint32_t group = bytes[i] << 16 | bytes[i + 1] << 8 | bytes[i + 2];
    for (int shift = 18; shift >= 0; shift -= 6) out_ += kBase64[group >> shift & 63];
  }
  if (i < bytes.size()) {
    const bool two = i + 1 < bytes.size();
    const std::uint32_t group = bytes[i] << 16 | (two ? bytes[i + 1] << 8 : 0);
    out_ += kBase64[group >> 18 & 63];
    out_ += kBase64[group >> 12 & 63];
    out_ += two ? kBase64[group >> 6 & 63] : '=';
    out_ += '=';
  }
  out_ += "</data>\n";
}

bool XmlStream::date(double seconds) {
  static const double first = static_cast<double>(secondsOf(kFirstDate));
  static const double last = static_cast<double>(secondsOf(kLastDate));
  double whole = std::floor(seconds);
  if (!(whole >= first && whole <= last) || whole != seconds) {
    if (mode_ == WriteMode::Exact) return false;
    whole = std::isnan(seconds) ? 0 : whole < first ? first : whole > last ? last : whole;
  }
  const CivilTime t = civilTimeOf(static_cast<long long>(whole));
  char text[32];
  const int n = std::snprintf(text, sizeof text, "%04lld-%02d-%02dT%02d:%02d:%02dZ", t.year,
                              t.month, t.day, t.hour, t.minute, t.second);
  return element("date", std::string_view(text, static_cast<std::size_t>(n)));
}

// Text with the markup characters escaped. A carriage return is written as a reference,
// since XML readers turn a literal one into a line feed.
bool XmlStream::text(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c >= 0x20 && c < 0x80 && c != '&' && c != '<' && c != '>') {
      std::size_t run = i + 1;
      while (run < s.size()) {
        const unsigned char d = static_cast<unsigned char>(s[run]);
        if (d < 0x20 || d >= 0x80 || d == '&' || d == '<' || d == '>') break;
        ++run;
      }
      out_.append(s, i, run - i);
      i = run;
      continue;
    }
    if (c == '&') out_ += "&amp;";
    else if (c == '<') out_ += "&lt;";
    else if (c == '>') out_ += "&gt;";
    else if (c == '\r') out_ += "&#13;";
    if (c == '&' || c == '<' || c == '>' || c == '\r') {
      ++i;
      continue;
    }
    const std::size_t n = base::utf8SequenceLength(s.substr(i));
    if (n == 0 || !isXmlCharacter(codePointOf(s.substr(i), n))) {
      if (mode_ == WriteMode::Exact) return false;
      out_ += "\xEF\xBF\xBD";
      i += n == 0 ? 1 : n;
      continue;
    }
    out_.append(s, i, n);
    i += n;
  }
  return true;
}

std::optional<std::string> writeXml(const PlistValue& value, WriteMode mode) {
  XmlStream stream(mode);
  if (!stream.value(value) || !stream.finish()) return std::nullopt;
  return stream.takeText();
}

}  // namespace strandel::plist
