#include "platform/Handles.hpp"

#include <unistd.h>

namespace strandel::platform {

// close is not retried after EINTR: Linux releases the descriptor whatever close reports, and
// a second close could hit a descriptor that another thread has opened meanwhile.
void FdTraits::free(int fd) noexcept { ::close(fd); }

}  // namespace strandel::platform
