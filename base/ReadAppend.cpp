// Built as C++23 where the compiler can (see CMakeLists.txt): std::string's
// resize_and_overwrite hands out the new room without writing it, where resize would zero-fill
// every byte only for the read to overwrite it at once. The string's layout is the same in
// every language version, so callers built as C++20 are unaffected.
#include "base/ReadAppend.hpp"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

#include "base/Handles.hpp"

namespace strandel::base {

ssize_t readAppend(int fd, std::string& out, std::size_t room, std::optional<off_t> at) {
  std::size_t used = out.size();
  ssize_t result = 0;
  auto readInto = [&](char* to) {
    return retryAfterSignal([&] { return at ? ::pread(fd, to, room, *at) : ::read(fd, to, room); });
  };
#if defined(__cpp_lib_string_resize_and_overwrite)
  out.resize_and_overwrite(used + room, [&](char* data, std::size_t) {
    result = readInto(data + used);
    return used + (result > 0 ? static_cast<std::size_t>(result) : 0);
  });
#else
  out.resize(used + room);
  result = readInto(out.data() + used);
  out.resize(used + (result > 0 ? static_cast<std::size_t>(result) : 0));
#endif
  return result;
}

void adviseHugePages([[maybe_unused]] std::string& out) {
#ifdef MADV_HUGEPAGE
  constexpr std::uintptr_t kHuge = std::uintptr_t{2} << 20;
  if (out.capacity() < 4 * kHuge) return;
  auto begin = (reinterpret_cast<std::uintptr_t>(out.data()) + kHuge - 1) & ~(kHuge - 1);
  auto end = (reinterpret_cast<std::uintptr_t>(out.data()) + out.capacity()) & ~(kHuge - 1);
  if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#endif
}

}  // namespace strandel::base
