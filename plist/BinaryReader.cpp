// The binary property-list form: a header, objects, a table of their offsets and a trailer.
//
// Containers hold references (indexes into the offset table). Any object may be named from
// many places, as CF's reader allows: a container or a string is read once and every later
// reference to it shares what was read (a copy of a value shares its contents, a key its text),
// so reading stays linear in the list and memory holds each text once, as the file does. What a
// full walk of the value would visit may still be far larger than the list (each level of a chain
// naming the one below twice doubles it), so that expanded size is counted as containers close and
// held to a budget; a container inside itself is refused. Memory is charged before it is taken: a
// container's claimed count against the values budget before its room is reserved, and each text's
// bytes against the byte budget.
#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "base/Utf8.hpp"
#include "plist/PlistReader.hpp"
#include "plist/PlistWriter.hpp"

namespace strandel::plist {
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

// A container being filled: values are read straight into their place in it, and the whole
// goes to its slot when it is complete.
struct Frame {
  std::uint64_t object = 0;  // its number, remembered with the value once it is read
  PlistValue* slot = nullptr;
  std::uint64_t refs = 0;   // where its references start
  std::uint64_t count = 0;  // entries (pairs for a dictionary)
  std::uint64_t next = 0;
  bool isDict = false;
  std::uint64_t expanded =
      1;  // what a walk of it visits: itself and every value below, shared ones each time
  PlistArray items;
  std::vector<PlistDict::value_type> entries;  // in the list's order, sorted once complete
};

// Where an object stands in the walk: Read is a container or UID, Text a string.
enum class Seen : std::uint8_t { No, Open, Read, Text };

class BinaryReader {
 public:
  explicit BinaryReader(std::string_view bytes)
      : bytes_(bytes), budget_(bytes.size()), expandedBudget_(expandedBudget(bytes.size())) {}

  PlistReadResult run() {
    if (!readTrailer()) return refused();
    // Real lists nest a dozen levels or so: room for them without growing, under the size at
    // which the allocator would first tidy its free lists.
    stack_.reserve(24);
    PlistValue root;
    std::uint64_t rootExpanded = 0;
    if (!budget_.takeValue() || !readInto(rootObject_, root, rootExpanded)) return refused();
    while (!stack_.empty()) {
      Frame& top = stack_.back();
      if (top.next == top.count) {
        if (!finish()) return refused();
        continue;
      }
      const std::uint64_t index = top.next++;
      PlistValue* slot = nullptr;
      std::uint64_t ref = 0;
      if (top.isDict) {
        if (!reference(top.refs, index, ref) || !readKey(ref)) return refused();
        // Writers need not sort their keys: they are sorted once the dictionary is complete,
        // where a key named twice keeps the later value.
        slot = &top.entries.emplace_back(key_, PlistValue()).second;
        if (!reference(top.refs, top.count + index, ref)) return refused();
      } else {
        if (!reference(top.refs, index, ref)) return refused();
        slot = &top.items.emplace_back();
      }
      // `top` may move from here on: reading a container pushes a frame.
      const std::size_t holder = stack_.size() - 1;
      std::uint64_t expanded = 0;
      if (!readInto(ref, *slot, expanded) || !addExpanded(stack_[holder], expanded))
        return refused();
    }
    return {std::move(root), {}};
  }

 private:
  PlistReadResult refused() { return {std::nullopt, std::move(error_)}; }

  // Adds what a value read into `frame` expands to.
  bool addExpanded(Frame& frame, std::uint64_t expanded) {
    frame.expanded += expanded;
    if (frame.expanded <= expandedBudget_) return true;
    return fail(offsetOfObject(frame.object),
                "a container that expands beyond what a list of this size can hold");
  }

  std::uint64_t offsetOfObject(std::uint64_t ref) const {
    return bigEndian(table_ + ref * offsetWidth_, offsetWidth_);
  }

  // The top container is complete: it goes to its slot, is remembered for later references,
  // and what it expands to counts in the one holding it.
  bool finish() {
    Frame done = std::move(stack_.back());
    stack_.pop_back();
    *done.slot = done.isDict ? PlistValue(PlistDict::fromEntries(std::move(done.entries)))
                             : PlistValue(std::move(done.items));
    remember(done.object, *done.slot, done.expanded);
    return stack_.empty() || addExpanded(stack_.back(), done.expanded);
  }

  [[gnu::noinline]] bool fail(std::uint64_t at, std::string_view what) {
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
    if (offsetWidth_ == 0 || refWidth_ == 0)
      return fail(trailer, "the trailer gives offsets or references of no size");
    if (objects_ == 0 || rootObject_ >= objects_)
      return fail(trailer, "the trailer names no root object");
    if (table_ < kHeader || table_ > trailer || objects_ > (trailer - table_) / offsetWidth_)
      return fail(trailer, "the offset table lies outside the list");
    // Objects are numbered in 32 bits where they are remembered; a list naming more is 4 GB long.
    if (objects_ > 0xFFFFFFFFu)
      return fail(trailer, "more values than a list of this size can hold");
    seen_.assign(static_cast<std::size_t>(objects_), Seen::No);
    return true;
  }

  [[gnu::noinline]] bool badReference(std::uint64_t at, std::uint64_t ref) {
    return fail(at,
                "a reference to object " + std::to_string(ref) + " of " + std::to_string(objects_));
  }

  bool reference(std::uint64_t refs, std::uint64_t index, std::uint64_t& ref) {
    const std::uint64_t at = refs + index * refWidth_;
    ref = bigEndian(at, refWidth_);
    return ref < objects_ || badReference(at, ref);
  }

  [[gnu::noinline]] bool pastTable(std::uint64_t ref) {
    return fail(table_ + ref * offsetWidth_,
                "object " + std::to_string(ref) + " lies past the offset table");
  }

  // Where object `ref` starts, checked to lie among the objects (even the header may be read as
  // an object).
  bool offsetOf(std::uint64_t ref, std::uint64_t& at) {
    at = bigEndian(table_ + ref * offsetWidth_, offsetWidth_);
    return at < table_ || pastTable(ref);
  }

  // Whether `length` bytes from `at` lie before the offset table, where objects end.
  bool fits(std::uint64_t at, std::uint64_t length) const {
    return at <= table_ && length <= table_ - at;
  }

  // The count that a marker's low half gives, or the integer object that follows it.
  bool countAt(std::uint64_t& at, std::uint8_t marker, std::uint64_t& count) {
    count = marker & 0x0F;
    if (count != 0x0F) return true;
    const std::uint64_t start = at;
    if (!fits(at, 1) || (byteAt(at) & 0xF0) != 0x10 || (byteAt(at) & 0x0F) > 4)
      return fail(start, "a length that is not an integer");
    const std::size_t width = std::size_t{1} << (byteAt(at) & 0x0F);
    if (!fits(at + 1, width)) return fail(start, "a length cut short");
    // A 16-byte length counts by its low 8 bytes.
    count = bigEndian(at + 1 + (width == 16 ? 8 : 0), width == 16 ? 8 : width);
    at += 1 + width;
    return true;
  }

  // Object `ref` as a dictionary key, in key_.
  bool readKey(std::uint64_t ref) {
    if (seen_[ref] == Seen::Text) {
      key_ = texts_[readAt_[ref]];
      return true;
    }
    std::uint64_t at = 0;
    if (!offsetOf(ref, at)) return false;
    const std::uint8_t marker = byteAt(at);
    if ((marker & 0xF0) != 0x50 && (marker & 0xF0) != 0x60)
      return fail(at, "a dictionary key that is not a string");
    return readTextObject(ref, at, marker, key_);
  }

  // The string object `ref` at `at`, read for the first time, in `text`; kept for every later
  // reference, as a key or as a value. Its bytes are charged once, as they are held once.
  bool readTextObject(std::uint64_t ref, std::uint64_t at, std::uint8_t marker, PlistKey& text) {
    std::string_view view;
    if (!readText(at, marker, view, decoded_)) return false;
    if (readAt_.empty()) readAt_.assign(static_cast<std::size_t>(objects_), 0);
    seen_[ref] = Seen::Text;
    readAt_[ref] = static_cast<std::uint32_t>(texts_.size());
    text = texts_.emplace_back(view);
    return true;
  }

  // The ASCII (0x5_) or UTF-16 (0x6_) text at `at` as UTF-8, in `text`: the list's own bytes
  // when ASCII, else decoded into `decoded`.
  bool readText(std::uint64_t at, std::uint8_t marker, std::string_view& text,
                std::string& decoded) {
    const std::uint64_t start = at++;
    std::uint64_t count = 0;
    if (!countAt(at, marker, count)) return false;
    const bool utf16 = (marker & 0xF0) == 0x60;
    if (count > table_ || !fits(at, utf16 ? count * 2 : count))
      return fail(start, "a string longer than the list");
    if (!utf16) {
      text = bytes_.substr(at, count);
      if (std::memchr(text.data(), '\0', text.size()))
        return fail(start, "a string holding a NUL byte");
      return budget_.takeBytes(text.size()) || overBudget(start);
    }
    decoded.clear();
    decoded.reserve(count);
    // Invalid UTF-16 is read leniently, as libplist always read it: a high surrogate waits for
    // the next low one, other characters coming between; a second high one cancels the first,
    // and a surrogate left without its partner is dropped.
    const auto* units = reinterpret_cast<const std::uint8_t*>(bytes_.data() + at);
    std::uint32_t high = 0;
    for (std::uint64_t i = 0; i < count; ++i) {
      const std::uint32_t unit = static_cast<std::uint32_t>(units[2 * i]) << 8 | units[2 * i + 1];
      if (unit < 0x80 && unit != 0) {  // most text is ASCII: one byte, nothing to check
        decoded += static_cast<char>(unit);
      } else if (unit == 0) {
        return fail(start, "a string holding U+0000");
      } else if (unit >= 0xD800 && unit <= 0xDBFF) {
        high = high ? 0 : unit;
      } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
        if (high) appendUtf8(decoded, 0x10000 + ((high - 0xD800) << 10) + (unit - 0xDC00));
        high = 0;
      } else {
        appendUtf8(decoded, unit);
      }
    }
    text = decoded;
    return budget_.takeBytes(text.size()) || overBudget(start);
  }

  // Reads object `ref` into `out`, and what it expands to into `expanded`. A container is left
  // empty and pushed on the stack, to be filled as its references are read; it counts when it
  // is complete. A container, UID or string read before is shared.
  bool readInto(std::uint64_t ref, PlistValue& out, std::uint64_t& expanded) {
    expanded = 1;
    if (seen_[ref] == Seen::Text) {
      const PlistKey& text = texts_[readAt_[ref]];
      out = PlistValue(text);
      expanded += text.size();
      return true;
    }
    if (seen_[ref] == Seen::Read) {
      const Remembered& earlier = read_[readAt_[ref]];
      out = earlier.value;
      expanded = earlier.expanded;
      return true;
    }
    std::uint64_t start = 0;
    if (!offsetOf(ref, start)) return false;
    std::uint64_t at = start + 1;
    const std::uint8_t marker = byteAt(start);
    const std::uint8_t low = marker & 0x0F;
    switch (marker >> 4) {
      case 0x0:
        if (marker != 0x08 && marker != 0x09) break;
        out = PlistValue(marker == 0x09);
        return true;
      case 0x1: {
        if (low > 4) break;
        const std::size_t width = std::size_t{1} << low;
        if (!fits(at, width)) return cutShort(start);
        if (width <= 8) {
          out = PlistValue(static_cast<std::int64_t>(bigEndian(at, width)));
          return true;
        }
        // A 16-byte integer is read by its low 8 bytes, as an unsigned number.
        const std::uint64_t v = bigEndian(at + 8, 8);
        out = v >> 63 ? PlistValue(v) : PlistValue(static_cast<std::int64_t>(v));
        return true;
      }
      case 0x2:
        if (low != 2 && low != 3) break;
        if (!fits(at, low == 2 ? 4 : 8)) return cutShort(start);
        if (low == 2)
          out = PlistValue(static_cast<double>(
              std::bit_cast<float>(static_cast<std::uint32_t>(bigEndian(at, 4)))));
        else out = PlistValue(std::bit_cast<double>(bigEndian(at, 8)));
        return true;
      case 0x3: {
        // Any double is a date, its fraction and its range kept, as CF keeps them.
        if (marker != 0x33) break;
        if (!fits(at, 8)) return cutShort(start);
        out = PlistValue(PlistDate{std::bit_cast<double>(bigEndian(at, 8))});
        return true;
      }
      case 0x4: {
        std::uint64_t count = 0;
        if (!countAt(at, marker, count)) return false;
        if (!fits(at, count)) return cutShort(start);
        if (!budget_.takeBytes(count)) return overBudget(start);
        const auto* p = reinterpret_cast<const std::uint8_t*>(bytes_.data() + at);
        out = PlistValue(PlistData{std::vector<std::uint8_t>(p, p + count)});
        expanded += count;
        return true;
      }
      case 0x5:
      case 0x6: {
        PlistKey text;
        if (!readTextObject(ref, start, marker, text)) return false;
        expanded += text.size();
        out = PlistValue(std::move(text));
        return true;
      }
      case 0x8: {
        // A UID of one to sixteen bytes, read by its low 8 like a long integer; UIDs index an
        // archive's objects and never pass 32 bits. It reads as the dictionary that the XML form
        // writes for it, made once and shared by every reference.
        const std::size_t width = low + 1u;
        if (!fits(at, width)) return cutShort(start);
        const std::uint64_t uid = width > 8 ? bigEndian(at + width - 8, 8) : bigEndian(at, width);
        if (uid > 0xFFFFFFFFu) return fail(start, "a UID beyond 32 bits");
        if (uidKey_.empty()) uidKey_ = PlistKey(kUidKey);
        out = PlistValue(PlistDict{{uidKey_, PlistValue(static_cast<std::int64_t>(uid))}});
        expanded = 2;
        remember(ref, out, expanded);
        return true;
      }
      case 0xA:
      case 0xC:
      case 0xD: {
        std::uint64_t count = 0;
        if (!countAt(at, marker, count)) return false;
        const bool isDict = (marker >> 4) == 0xD;
        const std::uint64_t refs = isDict ? count * 2 : count;
        if (count > table_ || !fits(at, refs * refWidth_)) return cutShort(start);
        if (seen_[ref] == Seen::Open) return fail(start, "a container inside itself");
        if (count == 0) {
          out = isDict ? PlistValue(PlistDict{}) : PlistValue(PlistArray{});
          return true;
        }
        if (stack_.size() >= kMaxPlistNesting)
          return fail(start,
                      "containers nested more than " + std::to_string(kMaxPlistNesting) + " deep");
        // The room a container claims is charged before it is taken: claims that overlap in the
        // list can't add up to more than the list's size.
        if (!budget_.takeValues(refs))
          return fail(start, "more values than a list of this size can hold");
        seen_[ref] = Seen::Open;
        Frame frame;
        frame.object = ref;
        frame.slot = &out;
        frame.refs = at;
        frame.count = count;
        frame.isDict = isDict;
        // Reserved whole, so that the items never move while they are filled.
        if (isDict) frame.entries.reserve(static_cast<std::size_t>(count));
        else frame.items.reserve(static_cast<std::size_t>(count));
        stack_.push_back(std::move(frame));
        expanded = 0;
        return true;
      }
      default:
        break;
    }
    return fail(start, "an object of unknown kind (marker " + hexOffset(marker).substr(5) + ")");
  }

  // Keeps a container or UID read, for later references to it.
  void remember(std::uint64_t ref, const PlistValue& value, std::uint64_t expanded) {
    if (readAt_.empty()) readAt_.assign(static_cast<std::size_t>(objects_), 0);
    seen_[ref] = Seen::Read;
    readAt_[ref] = static_cast<std::uint32_t>(read_.size());
    read_.push_back(Remembered{value, expanded});
  }

  bool overBudget(std::uint64_t start) {
    return fail(start, "text and data beyond what a list of this size can hold");
  }
  bool cutShort(std::uint64_t start) { return fail(start, "an object cut short"); }

  std::string_view bytes_;
  PlistBudget budget_;
  std::size_t offsetWidth_ = 0, refWidth_ = 0;
  std::uint64_t objects_ = 0, rootObject_ = 0, table_ = 0;
  std::vector<Seen> seen_;
  // Containers and UIDs read so far, for the references that name them again.
  struct Remembered {
    PlistValue value;
    std::uint64_t expanded = 0;
  };
  // Kept in one vector, found through readAt_ by object number: no allocation per container.
  std::vector<Remembered> read_;
  std::vector<PlistKey> texts_;        // strings read so far, found the same way
  std::vector<std::uint32_t> readAt_;  // by object number: where in read_ or texts_
  std::uint64_t expandedBudget_ = 0;
  std::vector<Frame> stack_;
  PlistKey key_;         // the key being read
  PlistKey uidKey_;      // the key of every UID's dictionary, made once
  std::string decoded_;  // UTF-16 text decoded, its buffer kept from one to the next
  std::string error_;
};

}  // namespace

PlistReadResult readBinaryPlist(std::string_view bytes) { return BinaryReader(bytes).run(); }

}  // namespace strandel::plist
