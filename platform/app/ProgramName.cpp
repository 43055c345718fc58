#include "platform/app/ProgramName.hpp"

#include <cerrno>
#include <cstdlib>

namespace strandel::platform {

// glibc keeps the short name from argv[0]; the BSD C libraries (a Mac's included) call it
// getprogname(). Which one is a matter of the C library, not of the kernel.
std::string programName() {
#if defined(__GLIBC__)
  const char* name = program_invocation_short_name;
#else
  const char* name = ::getprogname();
#endif
  return name && *name ? name : "strandel";
}

}  // namespace strandel::platform
