// The binary property-list form: a header, objects, a table of their offsets and a trailer.
//
// Containers hold references (indexes into the offset table). A string or number may be named
// from many places, but a container from one place only: a list that names a container twice
// (or inside itself) is damaged, since expanding it would cost far more than its size. Every
// container is walked once, with an explicit stack, so time and memory stay in proportion to
// the input, and the text and data that shared objects expand to are held to a budget.
#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "plist/PlistReader.hpp"
#include "base/Utf8.hpp"

namespace strandel {
using base::appendUtf8;
namespace {

constexpr std::size_t kHeader = 8, kTrailer = 32;

std::string hexOffset(std::uint64_t at) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  do {
    out.insert(out.begin(), digits[at & 15]);
    at >>= 4;
  } while (at);
  return "byte 0x" + out;
}

// A container being filled: values are read straight into their place in it.
struct Frame {
  PlistValue* target = nullptr;
  std::uint64_t refs = 0;   // where its references start
  std::uint64_t count = 0;  // entries (pairs for a dictionary)
  std::uint64_t next = 0;
  bool isDict = false;
};

class BinaryReader {
 public:
  explicit BinaryReader(std::string_view bytes) : bytes_(bytes), budget_(bytes.size()) {}

  PlistReadResult run() {
    if (!readTrailer()) return refused();
    PlistValue root;
    if (!readInto(rootObject_, root)) return refused();
    std::string key;
    while (!stack_.empty()) {
      Frame& top = stack_.back();
      if (top.next == top.count) {
        stack_.pop_back();
        continue;
      }
      const std::uint64_t index = top.next++;
      PlistValue* slot = nullptr;
      std::optional<std::uint64_t> ref;
      if (top.isDict) {
        ref = reference(top.refs, index);
        if (!ref || !readKey(*ref, key)) return refused();
        ref = reference(top.refs, top.count + index);
        PlistDict& dict = *top.target->asDictionary();
        // Keys mostly come in order: the hint makes each insertion constant time then. A key
        // seen before keeps its place and takes the later value.
        slot = &dict.try_emplace(dict.end(), std::move(key))->second;
      } else {
        ref = reference(top.refs, index);
        slot = &top.target->asArray()->emplace_back();
      }
      // `top` may move from here on: reading a container pushes a frame.
      if (!ref || !readInto(*ref, *slot)) return refused();
    }
    return {std::move(root), {}};
  }

 private:
  PlistReadResult refused() { return {std::nullopt, std::move(error_)}; }

  bool fail(std::uint64_t at, std::string_view what) {
    if (error_.empty()) error_ = hexOffset(at) + ": " + std::string(what);
    return false;
  }

  std::uint8_t byteAt(std::uint64_t at) const { return static_cast<std::uint8_t>(bytes_[at]); }

  std::uint64_t bigEndian(std::uint64_t at, std::size_t width) const {
    // References and offsets are mostly one or two bytes wide.
    if (width == 1) return byteAt(at);
    if (width == 2) return static_cast<std::uint64_t>(byteAt(at)) << 8 | byteAt(at + 1);
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < width; ++i) value = value << 8 | byteAt(at + i);
    return value;
  }

  bool readTrailer() {
    if (bytes_.size() < kHeader + kTrailer) return fail(0, "too short for a binary property list");
    const std::uint64_t trailer = bytes_.size() - kTrailer;
    offsetWidth_ = byteAt(trailer + 6);
    refWidth_ = byteAt(trailer + 7);
    objects_ = bigEndian(trailer + 8, 8);
    rootObject_ = bigEndian(trailer + 16, 8);
    table_ = bigEndian(trailer + 24, 8);
    // An offset or reference wider than 8 bytes counts by its low 8 bytes.
    if (offsetWidth_ == 0 || refWidth_ == 0) return fail(trailer, "the trailer gives offsets or references of no size");
    if (objects_ == 0 || rootObject_ >= objects_) return fail(trailer, "the trailer names no root object");
    if (table_ < kHeader || table_ > trailer || objects_ > (trailer - table_) / offsetWidth_)
      return fail(trailer, "the offset table lies outside the list");
    used_.assign(static_cast<std::size_t>(objects_), 0);
    return true;
  }

  std::optional<std::uint64_t> reference(std::uint64_t refs, std::uint64_t index) {
    std::uint64_t at = refs + index * refWidth_;
    std::uint64_t ref = bigEndian(at, refWidth_);
    if (ref >= objects_) {
      fail(at, "a reference to object " + std::to_string(ref) + " of " + std::to_string(objects_));
      return std::nullopt;
    }
    return ref;
  }

  // Where object `ref` starts, checked to lie among the objects.
  std::optional<std::uint64_t> offsetOf(std::uint64_t ref) {
    std::uint64_t entry = table_ + ref * offsetWidth_;
    std::uint64_t at = bigEndian(entry, offsetWidth_);
    if (at >= table_) {  // even the header may be read as an object
      fail(entry, "object " + std::to_string(ref) + " lies past the offset table");
      return std::nullopt;
    }
    return at;
  }

  // Whether `length` bytes from `at` lie before the offset table, where objects end.
  bool fits(std::uint64_t at, std::uint64_t length) const { return at <= table_ && length <= table_ - at; }

  // The count that a marker's low half gives, or the integer object that follows it.
  std::optional<std::uint64_t> countAt(std::uint64_t& at, std::uint8_t marker) {
    std::uint64_t count = marker & 0x0F;
    if (count != 0x0F) return count;
    std::uint64_t start = at;
    if (!fits(at, 1) || (byteAt(at) & 0xF0) != 0x10 || (byteAt(at) & 0x0F) > 4) {
      fail(start, "a length that is not an integer");
      return std::nullopt;
    }
    std::size_t width = std::size_t{1} << (byteAt(at) & 0x0F);
    if (!fits(at + 1, width)) {
      fail(start, "a length cut short");
      return std::nullopt;
    }
    // A 16-byte length counts by its low 8 bytes.
    count = bigEndian(at + 1 + (width == 16 ? 8 : 0), width == 16 ? 8 : width);
    at += 1 + width;
    return count;
  }

  bool readKey(std::uint64_t ref, std::string& key) {
    std::optional<std::uint64_t> at = offsetOf(ref);
    if (!at) return false;
    std::uint8_t marker = byteAt(*at);
    if ((marker & 0xF0) != 0x50 && (marker & 0xF0) != 0x60) return fail(*at, "a dictionary key that is not a string");
    std::optional<std::string> text = readText(*at, marker);
    if (!text) return false;
    key = std::move(*text);
    return true;
  }

  std::optional<std::string> readText(std::uint64_t at, std::uint8_t marker) {
    const std::uint64_t start = at++;
    std::optional<std::uint64_t> count = countAt(at, marker);
    if (!count) return std::nullopt;
    const bool utf16 = (marker & 0xF0) == 0x60;
    if (*count > table_ || !fits(at, utf16 ? *count * 2 : *count)) {
      fail(start, "a string longer than the list");
      return std::nullopt;
    }
    std::string text;
    if (!utf16) {
      std::string_view ascii = bytes_.substr(at, *count);
      if (ascii.find('\0') != std::string_view::npos) {
        fail(start, "a string holding a NUL byte");
        return std::nullopt;
      }
      if (!budget_.takeBytes(ascii.size())) return overBudget(start);
      return std::string(ascii);
    }
    text.reserve(*count);
    for (std::uint64_t i = 0; i < *count; ++i) {
      std::uint32_t unit = static_cast<std::uint32_t>(bigEndian(at + 2 * i, 2));
      if (unit == 0) {
        fail(start, "a string holding U+0000");
        return std::nullopt;
      }
      if (unit >= 0xDC00 && unit <= 0xDFFF) continue;  // a low surrogate alone is dropped
      if (unit >= 0xD800 && unit <= 0xDBFF) {
        std::uint32_t low = i + 1 < *count ? static_cast<std::uint32_t>(bigEndian(at + 2 * i + 2, 2)) : 0;
        if (low < 0xDC00 || low > 0xDFFF) continue;  // so is a high one
        unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
      appendUtf8(text, unit);
    }
    if (!budget_.takeBytes(text.size())) return overBudget(start);
    return text;
  }

  // Reads object `ref` into `out`. A container is left empty and pushed on the stack, to be
  // filled as its references are read.
  bool readInto(std::uint64_t ref, PlistValue& out) {
    std::optional<PlistValue> value = read(ref, out);
    if (!value) return error_.empty();
    out = std::move(*value);
    return true;
  }

  // Object `ref` as a value; nothing with no error set when it was a container, made in `out`.
  std::optional<PlistValue> read(std::uint64_t ref, PlistValue& out) {
    if (!budget_.takeValue()) {
      fail(table_, "more values than a list of this size can hold");
      return std::nullopt;
    }
    std::optional<std::uint64_t> found = offsetOf(ref);
    if (!found) return std::nullopt;
    const std::uint64_t start = *found;
    std::uint64_t at = start + 1;
    const std::uint8_t marker = byteAt(start);
    const std::uint8_t low = marker & 0x0F;
    switch (marker >> 4) {
      case 0x0:
        if (marker == 0x08 || marker == 0x09) return PlistValue(marker == 0x09);
        break;
      case 0x1: {
        if (low > 4) break;
        std::size_t width = std::size_t{1} << low;
        if (!fits(at, width)) return cutShort(start);
        if (width < 8) return PlistValue(static_cast<std::int64_t>(bigEndian(at, width)));
        if (width == 8) return PlistValue(static_cast<std::int64_t>(bigEndian(at, 8)));
        // A 16-byte integer is read by its low 8 bytes, as an unsigned number.
        std::uint64_t v = bigEndian(at + 8, 8);
        if (v >> 63) return PlistValue(v);
        return PlistValue(static_cast<std::int64_t>(v));
      }
      case 0x2:
        if (low == 2 && fits(at, 4)) return PlistValue(static_cast<double>(std::bit_cast<float>(static_cast<std::uint32_t>(bigEndian(at, 4)))));
        if (low == 3 && fits(at, 8)) return PlistValue(std::bit_cast<double>(bigEndian(at, 8)));
        if (low == 2 || low == 3) return cutShort(start);
        break;
      case 0x3: {
        if (marker != 0x33) break;
        if (!fits(at, 8)) return cutShort(start);
        std::optional<double> seconds = plistDateSeconds(std::bit_cast<double>(bigEndian(at, 8)));
        if (!seconds) {
          fail(start, "a date outside the years 1933 to 2069");
          return std::nullopt;
        }
        return PlistValue(PlistDate{*seconds});
      }
      case 0x4: {
        std::optional<std::uint64_t> count = countAt(at, marker);
        if (!count) return std::nullopt;
        if (!fits(at, *count)) return cutShort(start);
        if (!budget_.takeBytes(*count)) return overBudget(start);
        const auto* p = reinterpret_cast<const std::uint8_t*>(bytes_.data() + at);
        return PlistValue(PlistData{std::vector<std::uint8_t>(p, p + *count)});
      }
      case 0x5:
      case 0x6: {
        std::optional<std::string> text = readText(start, marker);
        if (!text) return std::nullopt;
        return PlistValue(std::move(*text));
      }
      case 0x8: {
        if (low > 3) break;
        if (!fits(at, low + 1u)) return cutShort(start);
        return PlistValue(bigEndian(at, low + 1u));
      }
      case 0xA:
      case 0xC:
      case 0xD: {
        std::optional<std::uint64_t> count = countAt(at, marker);
        if (!count) return std::nullopt;
        const bool isDict = (marker >> 4) == 0xD;
        std::uint64_t refs = isDict ? *count * 2 : *count;
        if (*count > table_ || !fits(at, refs * refWidth_)) return cutShort(start);
        if (used_[ref]) {
          fail(start, "a container named more than once (or inside itself)");
          return std::nullopt;
        }
        used_[ref] = 1;
        if (stack_.size() >= kMaxPlistNesting) {
          fail(start, "containers nested more than " + std::to_string(kMaxPlistNesting) + " deep");
          return std::nullopt;
        }
        if (isDict) {
          out = PlistValue(PlistDict{});
        } else {
          // Reserved whole, so that the items never move while they are filled.
          out = PlistValue(PlistArray{});
          out.asArray()->reserve(static_cast<std::size_t>(*count));
        }
        stack_.push_back(Frame{&out, at, *count, 0, isDict});
        return std::nullopt;
      }
      default:
        break;
    }
    if (error_.empty()) fail(start, "an object of unknown kind (marker " + hexOffset(marker).substr(5) + ")");
    return std::nullopt;
  }

  std::nullopt_t overBudget(std::uint64_t start) {
    fail(start, "text and data beyond what a list of this size can hold");
    return std::nullopt;
  }

  std::optional<PlistValue> cutShort(std::uint64_t start) {
    fail(start, "an object cut short");
    return std::nullopt;
  }

  std::string_view bytes_;
  PlistBudget budget_;
  std::size_t offsetWidth_ = 0, refWidth_ = 0;
  std::uint64_t objects_ = 0, rootObject_ = 0, table_ = 0;
  std::vector<std::uint8_t> used_;
  std::vector<Frame> stack_;
  std::string error_;
};

}  // namespace

PlistReadResult readBinaryPlist(std::string_view bytes) { return BinaryReader(bytes).run(); }

}  // namespace strandel
