// The library's version, as constants and as a call.
#include <strandel/Strandel.hpp>

extern "C" {
const double StrandelVersionNumber = 1.0;
const unsigned char StrandelVersionString[] = "@(#)PROGRAM:Strandel  PROJECT:Varnex-1\n";
}

namespace strandel {

// Compiled into the library, so it tells the copy loaded, whatever headers the host saw.
const char* versionString() noexcept { return STRANDEL_VERSION; }

}  // namespace strandel
