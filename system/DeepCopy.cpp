#include <strandel/Strandel.hpp>

namespace strandel {

// A PlistValue owns everything below it (strings, bytes, arrays and dictionaries are held by
// value), so its copy is already deep and every part of it can be changed freely: nothing is
// shared with the value copied.
PlistValue ZVDeepMutableCopyPropertyListObject(const PlistValue& value) { return value; }

}  // namespace strandel
