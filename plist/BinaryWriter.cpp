// The binary property-list form: "bplist00", the objects, a table of their offsets, a trailer.
//
// Two passes. The first numbers the objects: each distinct text once (keys included), each
// container once however many values share it (copies of a value share its contents, and
// their address tells them), every other value where it stands. The second writes them in
// that order, with references as wide as the count of objects needs.
#include <bit>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/Utf8.hpp"
#include "plist/PlistWriter.hpp"

namespace strandel::plist {
namespace {

std::size_t widthFor(std::uint64_t largest) {
  if (largest <= 0xFF) return 1;
  if (largest <= 0xFFFF) return 2;
  if (largest <= 0xFFFFFFFF) return 4;
  return 8;
}

enum class TextForm { Ascii, Utf16, Bytes };

struct Object {
  const PlistValue* value = nullptr;  // null for a text, which `text` then holds
  std::string_view text;
  std::size_t children = 0;  // where a container's references start in `refs_`
};

class BinaryWriter {
 public:
  explicit BinaryWriter(WriteMode mode) : mode_(mode) {}

  std::optional<std::string> run(const PlistValue& root) {
    // The first pass, from the root: every object gets its number, every container its
    // references. A container's references are made room for before its items are numbered,
    // so each container's lie together.
    add(root);
    for (std::size_t next = 0; next < pending_.size(); ++next) {
      const std::size_t index = pending_[next];
      const PlistValue& container = *objects_[index].value;
      objects_[index].children = refs_.size();
      if (const PlistArray* array = container.asArray()) {
        std::size_t at = refs_.size();
        refs_.resize(at + array->size());
        for (const PlistValue& item : *array) refs_[at++] = add(item);
      } else {
        const PlistDict& dict = *container.asDictionary();
        std::size_t keyAt = refs_.size(), valueAt = keyAt + dict.size();
        refs_.resize(keyAt + 2 * dict.size());
        for (const auto& [key, item] : dict) {
          refs_[keyAt++] = text(key);
          refs_[valueAt++] = add(item);
        }
      }
    }
    refWidth_ = widthFor(objects_.size() - 1);
    out_ = "bplist00";
    std::vector<std::uint64_t> offsets;
    offsets.reserve(objects_.size());
    for (const Object& object : objects_) {
      offsets.push_back(out_.size());
      if (!encode(object)) return std::nullopt;
    }
    const std::uint64_t table = out_.size();
    const std::size_t offsetWidth = widthFor(offsets.empty() ? 0 : offsets.back());
    for (std::uint64_t offset : offsets) bigEndian(offset, offsetWidth);
    out_.append(6, '\0');
    out_ += static_cast<char>(offsetWidth);
    out_ += static_cast<char>(refWidth_);
    bigEndian(objects_.size(), 8);
    bigEndian(0, 8);  // the root is the first object
    bigEndian(table, 8);
    return std::move(out_);
  }

 private:
  std::uint64_t add(const PlistValue& value) {
    if (value.kind() == PlistValue::Kind::String) return text(*value.asString());
    if (value.kind() == PlistValue::Kind::Url) return text(value.asUrl()->text);
    const bool container = (value.asArray() || value.asDictionary()) && !uidOf(value);
    if (container) {
      const void* contents = value.asArray() ? static_cast<const void*>(value.asArray())
                                             : static_cast<const void*>(value.asDictionary());
      auto [it, added] = containers_.try_emplace(contents, objects_.size());
      if (!added) return it->second;
      pending_.push_back(objects_.size());
    }
    objects_.push_back(Object{&value, {}, 0});
    return objects_.size() - 1;
  }

  std::uint64_t text(std::string_view s) {
    auto [it, added] = texts_.try_emplace(s, objects_.size());
    if (added) objects_.push_back(Object{nullptr, s, 0});
    return it->second;
  }

  void bigEndian(std::uint64_t v, std::size_t width) {
    for (std::size_t i = width; i-- > 0;) out_ += static_cast<char>(v >> (8 * i) & 0xFF);
  }

  // A marker with a count: in its low half when it fits there, else as an integer after it.
  void marker(std::uint8_t kind, std::uint64_t count) {
    if (count < 15) {
      out_ += static_cast<char>(kind | count);
      return;
    }
    out_ += static_cast<char>(kind | 0x0F);
    integer(count);
  }

  // 1, 2 or 4 bytes hold a number as unsigned; 8 bytes as signed, so a negative one takes them.
  void integer(std::uint64_t v) {
    const std::size_t width = v >> 63 ? 8 : widthFor(v);
    out_ += static_cast<char>(0x10 | std::countr_zero(width));
    bigEndian(v, width);
  }

  bool encode(const Object& object) {
    if (!object.value) return encodeText(object.text);
    const PlistValue& v = *object.value;
    switch (v.kind()) {
      case PlistValue::Kind::Boolean:
        out_ += *v.asBoolean() ? '\x09' : '\x08';
        return true;
      case PlistValue::Kind::Integer:
        integer(static_cast<std::uint64_t>(*v.asInteger()));
        return true;
      case PlistValue::Kind::UnsignedInteger: {
        const std::uint64_t u = *v.asUnsignedInteger();
        if (u >> 63 == 0) {
          integer(u);
        } else {
          // Above INT64_MAX: the 16-byte form, whose high half tells it from a negative number.
          out_ += '\x14';
          bigEndian(0, 8);
          bigEndian(u, 8);
        }
        return true;
      }
      case PlistValue::Kind::Real:
        out_ += '\x23';
        bigEndian(std::bit_cast<std::uint64_t>(*v.asReal()), 8);
        return true;
      case PlistValue::Kind::Date:
        out_ += '\x33';
        bigEndian(std::bit_cast<std::uint64_t>(v.asDate()->secondsSince2001), 8);
        return true;
      case PlistValue::Kind::Data: {
        const auto& bytes = v.asData()->bytes;
        marker(0x40, bytes.size());
        out_.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        return true;
      }
      case PlistValue::Kind::Array:
        marker(0xA0, v.asArray()->size());
        writeRefs(object.children, v.asArray()->size());
        return true;
      case PlistValue::Kind::Dictionary:
        if (auto uid = uidOf(v)) {
          const std::size_t width = widthFor(*uid);
          out_ += static_cast<char>(0x80 | (width - 1));
          bigEndian(*uid, width);
          return true;
        }
        marker(0xD0, v.asDictionary()->size());
        writeRefs(object.children, 2 * v.asDictionary()->size());
        return true;
      case PlistValue::Kind::String:
      case PlistValue::Kind::Url:
        break;  // texts are objects of their own
    }
    return true;
  }

  void writeRefs(std::size_t from, std::size_t count) {
    for (std::size_t i = from; i < from + count; ++i) bigEndian(refs_[i], refWidth_);
  }

  bool encodeText(std::string_view s) {
    bool ascii = true, nul = false;
    for (char c : s) {
      ascii = ascii && static_cast<unsigned char>(c) < 0x80;
      nul = nul || c == '\0';
    }
    if (nul && mode_ == WriteMode::Exact) return false;
    if (ascii && !nul) {
      marker(0x50, s.size());
      out_.append(s);
      return true;
    }
    const bool valid = base::isValidUtf8(s);
    if (!valid && mode_ == WriteMode::Exact) {
      marker(0x50, s.size());
      out_.append(s);
      return true;
    }
    // UTF-16, big-endian; U+FFFD for each byte that starts no character, and for U+0000.
    std::vector<char16_t> units;
    units.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
      const std::size_t n = base::utf8SequenceLength(s.substr(i));
      if (n == 0 || s[i] == '\0') {
        units.push_back(0xFFFD);
        ++i;
        continue;
      }
      const auto b = [&](std::size_t k) {
        return static_cast<char32_t>(static_cast<unsigned char>(s[i + k]));
      };
      char32_t c =
          n == 1   ? b(0)
          : n == 2 ? (b(0) & 0x1F) << 6 | (b(1) & 0x3F)
          : n == 3 ? (b(0) & 0x0F) << 12 | (b(1) & 0x3F) << 6 | (b(2) & 0x3F)
                   : (b(0) & 0x07) << 18 | (b(1) & 0x3F) << 12 | (b(2) & 0x3F) << 6 | (b(3) & 0x3F);
      if (c >= 0x10000) {
        c -= 0x10000;
        units.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
        units.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
      } else {
        units.push_back(static_cast<char16_t>(c));
      }
      i += n;
    }
    marker(0x60, units.size());
    for (char16_t unit : units) bigEndian(unit, 2);
    return true;
  }

  WriteMode mode_;
  std::vector<Object> objects_;
  std::vector<std::size_t> pending_;  // containers whose references are still to be numbered
  std::vector<std::uint64_t> refs_;
  std::unordered_map<const void*, std::uint64_t> containers_;
  std::unordered_map<std::string_view, std::uint64_t> texts_;
  std::size_t refWidth_ = 1;
  std::string out_;
};

}  // namespace

std::optional<std::string> writeBinary(const PlistValue& value, WriteMode mode) {
  return BinaryWriter(mode).run(value);
}

}  // namespace strandel::plist
