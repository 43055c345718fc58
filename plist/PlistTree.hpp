// The libplist tree behind readPlist, for readers that search a large property list and keep
// only a part of it: parse once, look at the nodes in place, convert only what is kept.
#pragma once

#include <plist/plist.h>

#include <optional>
#include <string_view>

#include <strandel/PlistValue.hpp>

#include "platform/Handles.hpp"

namespace strandel {

struct PlistTreeTraits {
  static plist_t invalid() noexcept { return nullptr; }
  static void free(plist_t node) noexcept { plist_free(node); }
};

/// A parsed property list: its root node, freed with everything below it when the value goes.
using PlistTree = platform::ScopedGeneric<plist_t, PlistTreeTraits>;

/// Parses an XML or binary property list as `readPlist` does, without converting it. An empty
/// tree when the bytes are not one.
PlistTree parsePlistTree(std::string_view bytes);

/// The value of `node` and everything below it, exactly as `readPlist` would give it; nothing
/// for a null node or one that `readPlist` would refuse.
std::optional<PlistValue> plistValueFromNode(plist_t node);

}  // namespace strandel
