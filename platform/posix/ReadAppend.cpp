// Built as C++23 where the compiler can (see CMakeLists.txt): std::string's
// resize_and_overwrite hands out the new room without writing it, where resize would zero-fill
// every byte only for the read to overwrite it at once. The string's layout is the same in
// every language version, so callers built as C++20 are unaffected.
#include "platform/posix/ReadAppend.hpp"

#include <unistd.h>

#include "base/Handles.hpp"

namespace strandel::platform::live {

ssize_t readAppend(int fd, std::string& out, std::size_t room) {
  std::size_t used = out.size();
  ssize_t result = 0;
#if defined(__cpp_lib_string_resize_and_overwrite)
  out.resize_and_overwrite(used + room, [&](char* data, std::size_t) {
    result = base::retryAfterSignal([&] { return ::read(fd, data + used, room); });
    return used + (result > 0 ? static_cast<std::size_t>(result) : 0);
  });
#else
  out.resize(used + room);
  result = base::retryAfterSignal([&] { return ::read(fd, out.data() + used, room); });
  out.resize(used + (result > 0 ? static_cast<std::size_t>(result) : 0));
#endif
  return result;
}

}  // namespace strandel::platform::live
