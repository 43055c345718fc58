// The name of the program the library runs in, as the host's log line and settings file use it.
#pragma once

#include <string>

namespace strandel::platform {

/// The running program's short name (its file name without folder); "strandel" when the
/// system can't tell.
std::string programName();

}  // namespace strandel::platform
