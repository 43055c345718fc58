#include "platform/FileBytes.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>

#include "platform/Handles.hpp"

namespace strandel::platform {

FileIdentity identityOf(const struct stat& info) {
  return {info.st_dev, info.st_ino, info.st_size, static_cast<std::int64_t>(info.st_mtim.tv_sec), info.st_mtim.tv_nsec};
}

bool changedTooRecently(const FileIdentity& identity) {
  // Well above the coarsest timestamp tick (10 ms at 100 Hz).
  constexpr std::int64_t kMarginNanoseconds = 50'000'000;
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  std::int64_t nowNs = static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
  std::int64_t changedNs = identity.mtimeSeconds * 1'000'000'000 + identity.mtimeNanoseconds;
  return nowNs - changedNs < kMarginNanoseconds;
}

std::optional<FileIdentity> identityOfPath(const std::string& path) {
  struct stat info;
  if (::stat(path.c_str(), &info) != 0) return std::nullopt;
  return identityOf(info);
}

std::optional<std::string> readToEnd(int fd, std::size_t sizeHint) {
  std::string bytes;
  std::size_t chunk = std::max<std::size_t>(sizeHint + 1, 4096);
  for (;;) {
    std::size_t used = bytes.size();
    bytes.resize(used + chunk);
    ssize_t n = retryAfterSignal([&] { return ::read(fd, bytes.data() + used, chunk); });
    if (n < 0) return std::nullopt;
    bytes.resize(used + static_cast<std::size_t>(n));
    if (n == 0) return bytes;
    chunk = std::max<std::size_t>(chunk, 64 * 1024);
  }
}

std::optional<std::string> readFileBytes(const std::string& path) {
  if (path.empty() || path.find('\0') != std::string::npos) return std::nullopt;
  // Non-blocking, so that a FIFO at the path is refused below instead of waited on.
  UniqueFd fd(retryAfterSignal([&] { return ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC); }));
  if (!fd) return std::nullopt;
  struct stat info;
  if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  return readToEnd(fd.get(), static_cast<std::size_t>(std::max<off_t>(info.st_size, 0)));
}

}  // namespace strandel::platform
