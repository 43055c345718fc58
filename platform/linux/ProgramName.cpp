#include "platform/host/ProgramName.hpp"

#include <cerrno>

namespace strandel::platform {

// glibc keeps the short name from argv[0]; other C libraries call it getprogname().
std::string programName() {
  const char* name = program_invocation_short_name;
  return name && *name ? name : "strandel";
}

}  // namespace strandel::platform
