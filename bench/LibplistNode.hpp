// The owned libplist node, for the benchmarks that time libplist against our own reader.
#pragma once

#include <plist/plist.h>

#include "base/Handles.hpp"

namespace strandel::detail {

struct LibplistNodeTraits {
  static plist_t invalid() noexcept { return nullptr; }
  static void free(plist_t node) noexcept { plist_free(node); }
};
/// A libplist node tree, freed when the value goes.
using LibplistNode = base::ScopedGeneric<plist_t, LibplistNodeTraits>;

}  // namespace strandel::detail
