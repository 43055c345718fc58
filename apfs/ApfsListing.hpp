// The disk utility's APFS listing, read afresh for every lookup, and the few typed reads that
// the lookups make on it. Internal to the library.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include <strandel/PlistValue.hpp>

namespace strandel::apfs {

/// Runs `/usr/sbin/diskutil apfs list -plist` once, with an empty environment: its output, or
/// nothing when the tool can't be started.
std::optional<std::string> runAPFSListTool();

/// Runs the tool as `runAPFSListTool` does and reads its output (XML or binary property list):
/// the top-level dictionary, or nothing when the tool can't be started, its output is not a
/// property list (empty output included), or the top level is not a dictionary.
std::optional<PlistDict> readAPFSListing();

/// What picks a container out of the listing: the first whose ContainerReference equals
/// `reference`, or whose store name (the designated physical store, or with
/// `storeFromPhysicalStores` the first physical store's identifier) is non-empty and ends
/// `device`.
struct ContainerQuery {
  std::string_view device;
  std::string_view reference;
  bool storeFromPhysicalStores = false;
};

/// The matching container of a listing's bytes, read by parsing the whole listing.
std::optional<PlistDict> findContainerParsed(std::string_view listing, const ContainerQuery& query);

/// The same answer, found by skimming the bytes and building only the matching container.
/// Nothing in the outer optional when the skim can't decide (a binary list, entities, comments
/// or anything else it does not read): the caller then parses.
std::optional<std::optional<PlistDict>> findContainerSkimmed(std::string_view listing,
                                                             const ContainerQuery& query);

/// The string under `key` of a dictionary; nothing when `node` is null or not a dictionary, or
/// the key is absent or holds another kind. The view lives as long as the value.
std::optional<std::string_view> stringEntry(const PlistValue* node, std::string_view key) noexcept;

/// Visits the items of an array in order until `visit` returns true, and tells whether it did.
/// Visits nothing when `array` is null.
bool visitItems(const PlistArray* array, const std::function<bool(const PlistValue&)>& visit);

/// The first item of an array; nullptr when it is null or empty.
const PlistValue* firstItem(const PlistArray* array) noexcept;

}  // namespace strandel::apfs
