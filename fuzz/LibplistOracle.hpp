// libplist as the reference reader that our own property-list reader is checked against: its
// parse of the same bytes, converted to a value the way Strandel has always converted it.
// Only for bounded inputs: libplist copies shared objects and recurses on nesting.
#pragma once

#include <plist/plist.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <strandel/PlistValue.hpp>

namespace strandel::fuzz {

struct OracleNode {
  plist_t node = nullptr;
  OracleNode() = default;
  explicit OracleNode(plist_t n) : node(n) {}
  OracleNode(const OracleNode&) = delete;
  OracleNode& operator=(const OracleNode&) = delete;
  ~OracleNode() {
    if (node) plist_free(node);
  }
};

// libplist keeps one integer kind. A value with the top bit set is either a negative number or
// an unsigned one above INT64_MAX; only its XML form tells which.
inline bool oracleIsNegative(plist_t node) {
  char* xml = nullptr;
  std::uint32_t length = 0;
  OracleNode copy(plist_copy(node));
  plist_to_xml(copy.node, &xml, &length);
  if (!xml) return false;
  bool negative = std::string_view(xml, length).find("<integer>-") != std::string_view::npos;
  plist_to_xml_free(xml);
  return negative;
}

inline std::optional<PlistValue> oracleValue(plist_t node, int depth = 0) {
  if (!node || depth > 600) return std::nullopt;
  switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
      std::uint8_t v = 0;
      plist_get_bool_val(node, &v);
      return PlistValue(v != 0);
    }
    case PLIST_UINT: {
      std::uint64_t v = 0;
      plist_get_uint_val(node, &v);
      if (v <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
        return PlistValue(static_cast<std::int64_t>(v));
      if (oracleIsNegative(node)) return PlistValue(static_cast<std::int64_t>(v));
      return PlistValue(v);
    }
    case PLIST_REAL: {
      double v = 0;
      plist_get_real_val(node, &v);
      return PlistValue(v);
    }
    case PLIST_STRING: {
      std::uint64_t length = 0;
      const char* s = plist_get_string_ptr(node, &length);
      return PlistValue(s ? std::string(s, length) : std::string());
    }
    case PLIST_KEY: {
      char* s = nullptr;
      plist_get_key_val(node, &s);
      PlistValue value{std::string(s ? s : "")};
      std::free(s);
      return value;
    }
    case PLIST_DATA: {
      char* bytes = nullptr;
      std::uint64_t length = 0;
      plist_get_data_val(node, &bytes, &length);
      PlistData data;
      if (bytes) data.bytes.assign(bytes, bytes + length);
      std::free(bytes);
      return PlistValue(std::move(data));
    }
    case PLIST_DATE: {
      std::int32_t sec = 0, usec = 0;
      plist_get_date_val(node, &sec, &usec);
      return PlistValue(PlistDate{sec + usec / 1e6});
    }
    case PLIST_UID: {
      std::uint64_t v = 0;
      plist_get_uid_val(node, &v);
      // As our reader gives a UID: the dictionary its XML form is.
      return PlistValue(PlistDict{{"CF$UID", PlistValue(static_cast<std::int64_t>(v))}});
    }
    case PLIST_ARRAY: {
      PlistArray array;
      std::uint32_t n = plist_array_get_size(node);
      for (std::uint32_t i = 0; i < n; ++i) {
        auto item = oracleValue(plist_array_get_item(node, i), depth + 1);
        if (!item) return std::nullopt;
        array.push_back(std::move(*item));
      }
      return PlistValue(std::move(array));
    }
    case PLIST_DICT: {
      PlistDict dict;
      plist_dict_iter it = nullptr;
      plist_dict_new_iter(node, &it);
      if (!it) return PlistValue(std::move(dict));
      std::optional<PlistValue> result;
      for (;;) {
        char* key = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(node, it, &key, &value);
        if (!key) {
          result = PlistValue(std::move(dict));
          break;
        }
        std::string k(key);
        std::free(key);
        auto item = oracleValue(value, depth + 1);
        if (!item) break;
        dict.insert_or_assign(std::move(k), std::move(*item));
      }
      std::free(it);
      return result;
    }
    default:
      return std::nullopt;
  }
}

// Whether a binary list holds a string libplist cannot read: one with a NUL (it ends the process
// on one used as a key, ASCII or UTF-16) or an empty UTF-16 one (it refuses the whole list,
// though an empty text is as valid in UTF-16 as in ASCII).
inline bool holdsUnreadableText(std::string_view bytes) {
  constexpr std::size_t kHeader = 8, kTrailer = 32;
  if (!bytes.starts_with("bplist00") || bytes.size() < kHeader + kTrailer) return false;
  auto byteAt = [&](std::size_t at) { return static_cast<unsigned char>(bytes[at]); };
  auto bigEndian = [&](std::size_t at, std::size_t width) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < width; ++i) value = value << 8 | byteAt(at + i);
    return value;
  };
  const std::size_t trailer = bytes.size() - kTrailer;
  const std::size_t offsetWidth = byteAt(trailer + 6);
  const std::uint64_t objects = bigEndian(trailer + 8, 8);
  const std::uint64_t table = bigEndian(trailer + 24, 8);
  if (offsetWidth == 0 || table > trailer || objects > (trailer - table) / offsetWidth)
    return false;
  for (std::uint64_t i = 0; i < objects; ++i) {
    std::uint64_t offset =
        bigEndian(static_cast<std::size_t>(table + i * offsetWidth), offsetWidth);
    if (offset >= trailer) continue;
    std::size_t at = static_cast<std::size_t>(offset);
    unsigned char marker = byteAt(at++);
    const bool utf16 = (marker & 0xF0) == 0x60;
    if (!utf16 && (marker & 0xF0) != 0x50) continue;
    const std::size_t unit = utf16 ? 2 : 1;
    std::uint64_t count = marker & 0x0F;
    if (count == 0x0F) {
      if (at >= trailer || (byteAt(at) & 0xF0) != 0x10 || (byteAt(at) & 0x0F) > 3) continue;
      std::size_t width = std::size_t{1} << (byteAt(at) & 0x0F);
      if (trailer - at - 1 < width) continue;
      count = bigEndian(at + 1, width);
      at += 1 + width;
    }
    if (utf16 && count == 0) return true;
    if (count > (trailer - at) / unit) count = (trailer - at) / unit;
    for (std::size_t c = 0; c < count; ++c)
      if (byteAt(at + unit * c) == 0 && byteAt(at + unit * c + unit - 1) == 0) return true;
  }
  return false;
}

// Whether an XML list holds an empty key written <key/>: libplist takes it for a string value,
// so a dictionary holding one is refused or read with its keys shifted.
inline bool holdsSelfClosedKey(std::string_view bytes) {
  if (bytes.starts_with("bplist00")) return false;
  for (std::size_t at = bytes.find("<key"); at != std::string_view::npos;
       at = bytes.find("<key", at + 1)) {
    std::size_t end = bytes.find('>', at);
    if (end == std::string_view::npos) return false;
    if (bytes[end - 1] == '/') return true;
  }
  return false;
}

// Whether a binary list names a container from two places (the root counting as one), which
// libplist expands by copying, or an XML one opens more containers than libplist can nest.
inline bool hasHostileShape(std::string_view bytes) {
  if (!bytes.starts_with("bplist00")) {
    std::size_t opened = 0;
    for (std::size_t at = bytes.find('<'); at != std::string_view::npos;
         at = bytes.find('<', at + 1))
      opened += bytes.compare(at + 1, 5, "array") == 0 || bytes.compare(at + 1, 4, "dict") == 0;
    return opened > 4000;
  }
  constexpr std::size_t kTrailer = 32;
  if (bytes.size() < 8 + kTrailer) return false;
  auto byteAt = [&](std::uint64_t at) { return static_cast<unsigned char>(bytes[at]); };
  auto bigEndian = [&](std::uint64_t at, std::size_t width) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < width; ++i) value = value << 8 | byteAt(at + i);
    return value;
  };
  const std::uint64_t trailer = bytes.size() - kTrailer;
  const std::size_t offsetWidth = byteAt(trailer + 6), refWidth = byteAt(trailer + 7);
  const std::uint64_t objects = bigEndian(trailer + 8, 8), root = bigEndian(trailer + 16, 8);
  const std::uint64_t table = bigEndian(trailer + 24, 8);
  if (offsetWidth == 0 || refWidth == 0 || table > trailer ||
      objects > (trailer - table) / offsetWidth)
    return false;
  auto offsetOf = [&](std::uint64_t ref) {
    return bigEndian(table + ref * offsetWidth, offsetWidth);
  };
  auto isContainer = [&](std::uint64_t ref) {
    std::uint64_t at = offsetOf(ref);
    return at < trailer &&
           ((byteAt(at) >> 4) == 0xA || (byteAt(at) >> 4) == 0xC || (byteAt(at) >> 4) == 0xD);
  };
  std::vector<std::uint8_t> named(static_cast<std::size_t>(objects), 0);
  if (root < objects) named[root] = 1;
  for (std::uint64_t i = 0; i < objects; ++i) {
    if (!isContainer(i)) continue;
    std::uint64_t at = offsetOf(i);
    std::uint64_t count = byteAt(at) & 0x0F;
    bool dict = (byteAt(at) >> 4) == 0xD;
    ++at;
    if (count == 0x0F) {
      if (at >= trailer || (byteAt(at) & 0xF0) != 0x10 || (byteAt(at) & 0x0F) > 4) continue;
      std::size_t width = std::size_t{1} << (byteAt(at) & 0x0F);
      if (trailer - at - 1 < width) continue;
      count = bigEndian(at + 1 + (width == 16 ? 8 : 0), width == 16 ? 8 : width);
      at += 1 + width;
    }
    if (dict) count *= 2;
    if (count > trailer || count * refWidth > trailer - at) continue;
    for (std::uint64_t k = 0; k < count; ++k) {
      std::uint64_t ref = bigEndian(at + k * refWidth, refWidth);
      if (ref < objects && isContainer(ref) && ++named[ref] > 1) return true;
    }
  }
  return false;
}

// Whether an XML list ends inside a <!DOCTYPE that never closes, and in white space. After a
// value written <dict/> or <array/> libplist reads on, and it takes such a declaration as
// closed by the end of the input only when the last byte is white space: "<dict/><!DOCTYPE x\n"
// reads as {}, "<dict/><!DOCTYPE x" is refused. No writer leaves a declaration open, so we
// refuse both rather than copy a rule that hangs on the last byte.
inline bool endsInOpenDeclaration(std::string_view bytes, const std::string& ourRefusal) {
  if (bytes.empty() || ourRefusal.find("a declaration is not closed") == std::string::npos)
    return false;
  const char last = bytes.back();
  return last == ' ' || last == '\t' || last == '\r' || last == '\n';
}

/// Whether libplist can be asked about `bytes`, given our own reader's refusal of them: not for
/// lists that would make it expand shared containers or recurse too deep, nor for large ones
/// (its binary reader is quadratic), nor for the texts it ends the process on or cannot read,
/// nor for keys written <key/>, nor for a declaration left open at the end.
inline bool oracleSurvives(std::string_view bytes, const std::string& ourRefusal) {
  if (endsInOpenDeclaration(bytes, ourRefusal)) return false;
  if (bytes.size() > (bytes.starts_with("bplist00") ? 64u << 10 : 1u << 20)) return false;
  for (std::string_view mark :
       {"inside itself", "nested more than", "beyond what", "more values than"})
    if (ourRefusal.find(mark) != std::string::npos) return false;
  return !holdsUnreadableText(bytes) && !holdsSelfClosedKey(bytes) && !hasHostileShape(bytes);
}

/// libplist's reading of `bytes`, or nothing when it refuses them.
inline std::optional<PlistValue> oracleRead(std::string_view bytes) {
  if (bytes.empty() || bytes.size() > std::numeric_limits<std::uint32_t>::max())
    return std::nullopt;
  OracleNode root;
  plist_from_memory(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &root.node);
  return oracleValue(root.node);
}

/// A value spelled out with its kinds, for the message of a failed comparison.
inline void describe(const PlistValue& value, std::string& out) {
  char buffer[64];
  switch (value.kind()) {
    case PlistValue::Kind::String:
      out += "s\"" + *value.asString() + "\"";
      break;
    case PlistValue::Kind::Integer:
      out += "i" + std::to_string(*value.asInteger());
      break;
    case PlistValue::Kind::UnsignedInteger:
      out += "u" + std::to_string(*value.asUnsignedInteger());
      break;
    case PlistValue::Kind::Real:
      std::snprintf(buffer, sizeof buffer, "r%a", *value.asReal());
      out += buffer;
      break;
    case PlistValue::Kind::Boolean:
      out += *value.asBoolean() ? "true" : "false";
      break;
    case PlistValue::Kind::Data:
      out += "data[" + std::to_string(value.asData()->bytes.size()) + "]";
      break;
    case PlistValue::Kind::Date:
      std::snprintf(buffer, sizeof buffer, "d%a", value.asDate()->secondsSince2001);
      out += buffer;
      break;
    case PlistValue::Kind::Url:
      out += "url";
      break;
    case PlistValue::Kind::Array:
      out += "[";
      for (const auto& item : *value.asArray()) describe(item, out), out += ",";
      out += "]";
      break;
    case PlistValue::Kind::Dictionary:
      out += "{";
      for (const auto& [key, item] : *value.asDictionary())
        out += "\"" + key.str() + "\":", describe(item, out), out += ",";
      out += "}";
      break;
  }
}

inline std::string describe(const std::optional<PlistValue>& value) {
  if (!value) return "(nothing)";
  std::string out;
  describe(*value, out);
  return out;
}

}  // namespace strandel::fuzz
