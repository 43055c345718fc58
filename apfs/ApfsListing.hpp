// The disk utility's APFS listing, read afresh for every lookup, and the few typed reads that
// the lookups make on it. Internal to the library.
#pragma once

#include <functional>
#include <optional>
#include <string_view>

#include <strandel/PlistValue.hpp>

namespace strandel {

/// Runs `/usr/sbin/diskutil apfs list -plist` once, with an empty environment, and reads its
/// output (XML or binary property list): the top-level dictionary, or nothing when the tool
/// can't be started, its output is not a property list (empty output included), or the top
/// level is not a dictionary.
std::optional<PlistDict> readAPFSListing();

/// The string under `key` of a dictionary; nothing when `node` is null or not a dictionary, or
/// the key is absent or holds another kind. The view lives as long as the value.
std::optional<std::string_view> stringEntry(const PlistValue* node, std::string_view key) noexcept;

/// The array under `key` of a dictionary; nullptr as for `stringEntry`.
const PlistArray* arrayEntry(const PlistValue* node, std::string_view key) noexcept;
const PlistArray* arrayEntry(const PlistDict& dict, std::string_view key) noexcept;

/// Visits the items of an array in order until `visit` returns true, and tells whether it did.
/// Visits nothing when `array` is null.
bool visitItems(const PlistArray* array, const std::function<bool(const PlistValue&)>& visit);

/// The first item of an array; nullptr when it is null or empty.
const PlistValue* firstItem(const PlistArray* array) noexcept;

}  // namespace strandel
