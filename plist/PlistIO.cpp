// Reading and writing XML and binary property lists through libplist.
#include <plist/plist.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>

#include <strandel/PlistValue.hpp>

#include "platform/Handles.hpp"
#include "plist/PlistTree.hpp"
#include "plist/Utf8.hpp"

namespace strandel {
namespace {

struct PlistNodeTraits {
  static plist_t invalid() noexcept { return nullptr; }
  static void free(plist_t node) noexcept { plist_free(node); }
};
using ScopedNode = platform::ScopedGeneric<plist_t, PlistNodeTraits>;

// Deeper nesting than this is refused rather than risk the stack; real property lists of the
// tools we read are a handful of levels deep.
constexpr int kMaxDepth = 256;

// libplist keeps one integer kind. A value with the top bit set is either a negative number or
// an unsigned one above INT64_MAX; only its XML form tells which.
bool isNegativeInteger(plist_t node) {
  char* xml = nullptr;
  std::uint32_t length = 0;
  ScopedNode copy(plist_copy(node));
  plist_to_xml(copy.get(), &xml, &length);
  if (!xml) return false;
  bool negative = std::string_view(xml, length).find("<integer>-") != std::string_view::npos;
  plist_to_xml_free(xml);
  return negative;
}

std::optional<PlistValue> fromNode(plist_t node, int depth) {
  if (!node || depth > kMaxDepth) return std::nullopt;
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
      if (isNegativeInteger(node)) return PlistValue(static_cast<std::int64_t>(v));
      return PlistValue(v);
    }
    case PLIST_REAL: {
      double v = 0;
      plist_get_real_val(node, &v);
      return PlistValue(v);
    }
    case PLIST_STRING: {
      // plist_get_string_val asserts when a string holds a NUL byte; the pointer form takes
      // the stored length as it is.
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
      return PlistValue(v);
    }
    case PLIST_ARRAY: {
      PlistArray array;
      std::uint32_t n = plist_array_get_size(node);
      array.reserve(n);
      for (std::uint32_t i = 0; i < n; ++i) {
        auto item = fromNode(plist_array_get_item(node, i), depth + 1);
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
        auto item = fromNode(value, depth + 1);
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

plist_t newSignedInteger(std::int64_t v) { return plist_new_uint(static_cast<std::uint64_t>(v)); }

// plist_new_uint marks a value as signed; an unsigned one above INT64_MAX needs the parser's
// own marking, so it goes through a one-element XML document.
plist_t newUnsignedInteger(std::uint64_t v) {
  if (v <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
    return plist_new_uint(v);
  std::string xml = "<plist><integer>" + std::to_string(v) + "</integer></plist>";
  plist_t node = nullptr;
  plist_from_xml(xml.data(), static_cast<std::uint32_t>(xml.size()), &node);
  return node ? node : plist_new_uint(v);
}

// How texts are handed to libplist. Its binary writer stores a text that is not ASCII as
// UTF-16 and stops converting at the first byte that starts no UTF-8 character: the rest of the
// text is lost, and a key cut short can fall onto another key. For that form each such byte
// becomes U+FFFD, as in the JSON form. The XML writer keeps the bytes, and reading gives them
// back unchanged.
enum class TextForm { Bytes, ValidUtf8 };

// The text to hand over: `text` itself, or its repaired copy made in `storage`.
const char* textFor(const std::string& text, TextForm form, std::string& storage) {
  if (form == TextForm::Bytes || isValidUtf8(text)) return text.c_str();
  storage.clear();
  storage.reserve(text.size() + 8);
  for (std::size_t i = 0; i < text.size();) {
    std::size_t n = utf8SequenceLength(std::string_view(text).substr(i));
    if (n == 0) {
      storage += "\xEF\xBF\xBD";
      ++i;
    } else {
      storage.append(text, i, n);
      i += n;
    }
  }
  return storage.c_str();
}

plist_t toNode(const PlistValue& value, TextForm form) {
  std::string storage;
  switch (value.kind()) {
    case PlistValue::Kind::String:
      return plist_new_string(textFor(*value.asString(), form, storage));
    case PlistValue::Kind::Integer:
      return newSignedInteger(*value.asInteger());
    case PlistValue::Kind::UnsignedInteger:
      return newUnsignedInteger(*value.asUnsignedInteger());
    case PlistValue::Kind::Real:
      return plist_new_real(*value.asReal());
    case PlistValue::Kind::Boolean:
      return plist_new_bool(*value.asBoolean() ? 1 : 0);
    case PlistValue::Kind::Data: {
      const auto& bytes = value.asData()->bytes;
      return plist_new_data(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }
    case PlistValue::Kind::Date: {
      double t = value.asDate()->secondsSince2001;
      double sec = std::floor(t);
      if (!(sec >= std::numeric_limits<std::int32_t>::min() && sec <= std::numeric_limits<std::int32_t>::max()))
        sec = 0, t = 0;
      return plist_new_date(static_cast<std::int32_t>(sec), static_cast<std::int32_t>(std::lround((t - sec) * 1e6)));
    }
    case PlistValue::Kind::Url:
      return plist_new_string(textFor(value.asUrl()->text, form, storage));
    case PlistValue::Kind::Array: {
      plist_t array = plist_new_array();
      for (const auto& item : *value.asArray()) plist_array_append_item(array, toNode(item, form));
      return array;
    }
    case PlistValue::Kind::Dictionary: {
      plist_t dict = plist_new_dict();
      for (const auto& [key, item] : *value.asDictionary())
        plist_dict_set_item(dict, textFor(key, form, storage), toNode(item, form));
      return dict;
    }
  }
  return plist_new_string("");
}

template <typename Serialise, typename Free>
std::string serialise(const PlistValue& value, TextForm form, Serialise serialiseFn, Free freeFn) {
  ScopedNode node(toNode(value, form));
  char* bytes = nullptr;
  std::uint32_t length = 0;
  serialiseFn(node.get(), &bytes, &length);
  if (!bytes) return std::string();
  std::string out(bytes, length);
  freeFn(bytes);
  return out;
}

// Whether a binary property list holds a UTF-16 string object with a U+0000 character in it.
// libplist keeps such a text whole, but reading it as a dictionary key fails an assertion
// inside libplist that ends the process, and a key can't be read any other way; so these
// documents are refused before they are parsed. Real property lists never hold one. (An ASCII
// string object with a NUL byte is cut at the NUL by libplist and reads safely.) The scan reads
// the trailer and the offset table as libplist does; anything that does not fit is left to
// libplist, which refuses it too.
bool binaryHoldsUtf16Nul(std::string_view bytes) {
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
  if (offsetWidth == 0 || offsetWidth > 8 || table > trailer || objects > (trailer - table) / offsetWidth) return false;
  for (std::uint64_t i = 0; i < objects; ++i) {
    std::uint64_t offset = bigEndian(static_cast<std::size_t>(table + i * offsetWidth), offsetWidth);
    if (offset < kHeader || offset >= trailer) continue;
    std::size_t at = static_cast<std::size_t>(offset);
    unsigned char marker = byteAt(at++);
    if ((marker & 0xF0) != 0x60) continue;
    std::uint64_t count = marker & 0x0F;
    if (count == 0x0F) {
      // The length follows as an integer object: marker 0x1N, then 2^N big-endian bytes.
      if (at >= trailer || (byteAt(at) & 0xF0) != 0x10 || (byteAt(at) & 0x0F) > 3) continue;
      std::size_t width = std::size_t{1} << (byteAt(at) & 0x0F);
      if (trailer - at - 1 < width) continue;
      count = bigEndian(at + 1, width);
      at += 1 + width;
    }
    if (count > (trailer - at) / 2) count = (trailer - at) / 2;
    for (std::size_t c = 0; c < count; ++c) {
      if (byteAt(at + 2 * c) == 0 && byteAt(at + 2 * c + 1) == 0) return true;
    }
  }
  return false;
}

}  // namespace

std::optional<PlistValue> readPlist(std::string_view bytes) {
  if (bytes.empty() || bytes.size() > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
  if (binaryHoldsUtf16Nul(bytes)) return std::nullopt;
  ScopedNode root;
  plist_from_memory(bytes.data(), static_cast<std::uint32_t>(bytes.size()), root.receive());
  return fromNode(root.get(), 0);
}

PlistTree parsePlistTree(std::string_view bytes) {
  PlistTree root;
  if (bytes.empty() || bytes.size() > std::numeric_limits<std::uint32_t>::max()) return root;
  if (binaryHoldsUtf16Nul(bytes)) return root;
  plist_from_memory(bytes.data(), static_cast<std::uint32_t>(bytes.size()), root.receive());
  return root;
}

std::optional<PlistValue> plistValueFromNode(plist_t node) { return fromNode(node, 0); }

std::string writeXmlPlist(const PlistValue& value) { return serialise(value, TextForm::Bytes, plist_to_xml, plist_to_xml_free); }

std::string writeBinaryPlist(const PlistValue& value) { return serialise(value, TextForm::ValidUtf8, plist_to_bin, plist_to_bin_free); }

}  // namespace strandel
