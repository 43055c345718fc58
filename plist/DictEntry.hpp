// One entry of a dictionary, taken by the kind it must have. Each answers nothing when the key
// is absent or holds another kind, so that a reader of outside input checks once, and a caller
// holding a value that may not be a dictionary at all asks the same way.
#pragma once

#include <string>
#include <string_view>

#include <strandel/PlistValue.hpp>

namespace strandel::plist {

/// The value under `key`; nothing when absent.
inline const PlistValue* valueAt(const PlistDict& dict, std::string_view key) noexcept {
  auto it = dict.find(key);
  return it == dict.end() ? nullptr : &it->second;
}

/// The text under `key`; nothing when absent or not a text.
inline const std::string* stringAt(const PlistDict& dict, std::string_view key) noexcept {
  const PlistValue* value = valueAt(dict, key);
  return value ? value->asString() : nullptr;
}

/// The text under `key` of `node`; nothing when `node` is null or not a dictionary too.
inline const std::string* stringAt(const PlistValue* node, std::string_view key) noexcept {
  const PlistValue* value = node ? node->find(key) : nullptr;
  return value ? value->asString() : nullptr;
}

/// Whether the entry under `key` is the boolean true (absent, false or another kind is not).
inline bool isTrueAt(const PlistDict& dict, std::string_view key) noexcept {
  const PlistValue* value = valueAt(dict, key);
  return value && value->asBoolean().value_or(false);
}

/// The array under `key`; nothing when absent or not an array.
inline const PlistArray* arrayAt(const PlistDict& dict, std::string_view key) noexcept {
  const PlistValue* value = valueAt(dict, key);
  return value ? value->asArray() : nullptr;
}

/// The array under `key` of `node`; nothing when `node` is null or not a dictionary too.
inline const PlistArray* arrayAt(const PlistValue* node, std::string_view key) noexcept {
  const PlistValue* value = node ? node->find(key) : nullptr;
  return value ? value->asArray() : nullptr;
}

}  // namespace strandel::plist
