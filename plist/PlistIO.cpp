// Writing XML and binary property lists through libplist (reading is our own: PlistReader).
#include <plist/plist.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>

#include <strandel/PlistValue.hpp>

#include "base/Utf8.hpp"
#include "plist/LibplistNode.hpp"

namespace strandel {
namespace {

using ScopedNode = detail::LibplistNode;

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
  if (form == TextForm::Bytes || base::isValidUtf8(text)) return text.c_str();
  storage.clear();
  storage.reserve(text.size() + 8);
  for (std::size_t i = 0; i < text.size();) {
    std::size_t n = base::utf8SequenceLength(std::string_view(text).substr(i));
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

}  // namespace

std::string writeXmlPlist(const PlistValue& value) { return serialise(value, TextForm::Bytes, plist_to_xml, plist_to_xml_free); }

std::string writeBinaryPlist(const PlistValue& value) { return serialise(value, TextForm::ValidUtf8, plist_to_bin, plist_to_bin_free); }

}  // namespace strandel
