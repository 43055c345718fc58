// The disk utility's APFS listing, read afresh for every lookup, and the few typed reads that
// the lookups make on it. Internal to the library.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <strandel/PlistValue.hpp>

namespace strandel {

/// Runs `/usr/sbin/diskutil apfs list -plist` once, with an empty environment, and parses its
/// output (XML or binary property list). Gives the top-level dictionary; nothing when the tool
/// can't be started, its output is not a property list (empty output included), or the top
/// level is not a dictionary.
std::optional<PlistDict> readAPFSListing();

/// The listing's "Containers"; nullptr when it is absent or not an array.
PlistArray* listingContainers(PlistDict& listing) noexcept;

/// The string under `key` of a dictionary value; nullptr when `entry` is not a dictionary or
/// the key is absent or holds another kind.
const std::string* stringEntry(const PlistValue& entry, std::string_view key) noexcept;

/// The array under `key` of a dictionary value; nullptr as for `stringEntry`.
const PlistArray* arrayEntry(const PlistValue& entry, std::string_view key) noexcept;

}  // namespace strandel
