// Calls of a shared library loaded when first needed (dlopen) rather than by the loader at every
// start: for libraries that only some commands use and whose loading costs more than they do.
#pragma once

#include <dlfcn.h>

namespace strandel::base {

/// Opens the library named by its SONAME (as the linker would have named it), or null. It is
/// never closed: what it made may be alive anywhere until the process ends.
inline void* loadLibrary(const char* soname) noexcept {
  return ::dlopen(soname, RTLD_NOW | RTLD_LOCAL);
}

/// Sets `slot` to the library's function `name`; false when it has none.
template <typename Function>
bool bindCall(void* library, const char* name, Function& slot) noexcept {
  slot = reinterpret_cast<Function>(::dlsym(library, name));
  return slot != nullptr;
}

}  // namespace strandel::base
