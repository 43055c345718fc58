// Keys and texts that the library makes once and keeps for the whole run: the keys of the fixed
// shapes that records are copied from, and the few texts every record carries. A copy of one
// shares it without counting, so copying a 24-key record costs no counted step per key.
#pragma once

#include <string_view>

#include <strandel/PlistValue.hpp>

namespace strandel::detail {

class LastingTexts {
 public:
  /// A key that is never freed. Only for texts the library fixes itself, a bounded number of
  /// times (function-local constants): each call keeps its text until the program ends.
  static PlistKey key(std::string_view text);
  /// The same as a text value.
  static PlistValue text(std::string_view text) { return PlistValue(key(text)); }
};

}  // namespace strandel::detail
