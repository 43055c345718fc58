// The disk utility's APFS listing, read afresh for every lookup, and the few typed reads that
// the lookups make on it. Internal to the library.
//
// A listing can be large (one entry per container, each with its volumes), and a lookup keeps
// at most one entry of it, so the lookups search the parsed tree in place and convert only what
// they return.
#pragma once

#include <functional>
#include <optional>
#include <string_view>

#include <strandel/PlistValue.hpp>

#include "plist/PlistTree.hpp"

namespace strandel {

/// Runs `/usr/sbin/diskutil apfs list -plist` once, with an empty environment, and parses its
/// output (XML or binary property list). An empty tree when the tool can't be started, its
/// output is not a property list (empty output included), or the top level is not a dictionary.
PlistTree readAPFSListingTree();

/// The same listing converted whole: the top-level dictionary, or nothing as above.
std::optional<PlistDict> readAPFSListing();

/// The string under `key` of a dictionary node; nothing when `node` is not a dictionary or the
/// key is absent or holds another kind. The view lives as long as the tree.
std::optional<std::string_view> stringEntry(plist_t node, const char* key) noexcept;

/// The array under `key` of a dictionary node; nullptr as for `stringEntry`.
plist_t arrayEntry(plist_t node, const char* key) noexcept;

/// Visits the items of an array node in order until `visit` returns true, and tells whether it
/// did. Visits nothing when `array` is not an array.
bool visitItems(plist_t array, const std::function<bool(plist_t)>& visit);

/// The first item of an array node; nullptr when it is not an array or is empty.
plist_t firstItem(plist_t array) noexcept;

}  // namespace strandel
