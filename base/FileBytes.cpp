#include "base/FileBytes.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <new>

#include "base/Handles.hpp"

namespace strandel::base {

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

FileBytes readOpenFile(int fd, std::size_t maxSize) {
  struct stat info;
  if (::fstat(fd, &info) != 0) return {{}, ReadError::Failed, errno};
  if (!S_ISREG(info.st_mode)) return {{}, ReadError::NotRegular};
  std::size_t size = static_cast<std::size_t>(std::max<off_t>(info.st_size, 0));
  if (size > maxSize) return {{}, ReadError::TooLarge};
  FileBytes file;
  try {
    // The first read takes the whole file as it was, into a buffer of its size; a file that
    // grows meanwhile is read on through a small one, so that finding the end costs no second
    // buffer of the file's size.
    file.bytes.resize(size + 1);
    ssize_t n = retryAfterSignal([&] { return ::read(fd, file.bytes.data(), size + 1); });
    if (n < 0) return {{}, ReadError::Failed, errno};
    file.bytes.resize(static_cast<std::size_t>(n));
    char more[16 * 1024];
    while (n > 0) {
      if (file.bytes.size() > maxSize) return {{}, ReadError::TooLarge};
      n = retryAfterSignal([&] { return ::read(fd, more, sizeof more); });
      if (n < 0) return {{}, ReadError::Failed, errno};
      file.bytes.append(more, static_cast<std::size_t>(n));
    }
    return file;
  } catch (const std::bad_alloc&) {
    return {{}, ReadError::TooLarge};
  }
}

FileBytes readFileBytes(const std::string& path, std::size_t maxSize, Links links) {
  if (path.empty() || path.find('\0') != std::string::npos) return {{}, ReadError::Missing};
  int flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | (links == Links::Refuse ? O_NOFOLLOW : 0);
  UniqueFd fd(retryAfterSignal([&] { return ::open(path.c_str(), flags); }));
  if (!fd) {
    int error = errno;
    if (error == ENOENT) return {{}, ReadError::Missing, error};
    if (error == ELOOP && links == Links::Refuse) return {{}, ReadError::Link, error};
    return {{}, ReadError::Failed, error};
  }
  return readOpenFile(fd.get(), maxSize);
}

}  // namespace strandel::base
