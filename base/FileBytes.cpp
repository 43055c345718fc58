#include "base/FileBytes.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <new>
#include <optional>

#include "base/Handles.hpp"
#include "base/ReadAppend.hpp"

namespace strandel::base {

FileIdentity identityOf(const struct stat& info) {
  return {info.st_dev, info.st_ino, info.st_size, static_cast<std::int64_t>(info.st_mtim.tv_sec),
          info.st_mtim.tv_nsec};
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

namespace {

// Reads on from the descriptor's offset, or by position from `offset` when one is given.
FileBytes readRest(int fd, std::optional<off_t> offset, std::size_t maxSize) {
  struct stat info;
  if (::fstat(fd, &info) != 0) return {{}, ReadError::Failed, errno};
  if (!S_ISREG(info.st_mode)) return {{}, ReadError::NotRegular};
  off_t from = offset.value_or(0);
  std::size_t size = static_cast<std::size_t>(std::max<off_t>(info.st_size - from, 0));
  if (size > maxSize) return {{}, ReadError::TooLarge};
  FileBytes file;
  try {
    // The first read takes the whole file as it was; a file that grows meanwhile is read on.
    // The room reserved also holds the read that meets the end, so that it copies nothing.
    constexpr std::size_t kEndRead = 4096;
    std::size_t chunk = std::max<std::size_t>(size + 1, kEndRead);
    file.bytes.reserve(chunk + kEndRead);
    adviseHugePages(file.bytes);
    for (;;) {
      // Into room that is not zero-filled first: the read writes every byte it keeps.
      const off_t at = from + static_cast<off_t>(file.bytes.size());
      ssize_t n =
          readAppend(fd, file.bytes, chunk, offset ? std::optional<off_t>(at) : std::nullopt);
      if (n < 0) return {{}, ReadError::Failed, errno};
      if (file.bytes.size() > maxSize) return {{}, ReadError::TooLarge};
      if (n == 0) return file;
      // A read that filled its room says the file is larger than it claimed: read on in large
      // pieces. One that didn't has most likely met the end, which a small read confirms without
      // growing the room to hold a second copy of the file (or 64 KiB for a sysfs attribute).
      chunk =
          static_cast<std::size_t>(n) == chunk ? std::max<std::size_t>(chunk, 64 * 1024) : kEndRead;
    }
  } catch (const std::bad_alloc&) {
    return {{}, ReadError::TooLarge};
  }
}

}  // namespace

FileBytes readOpenFile(int fd, std::size_t maxSize) { return readRest(fd, std::nullopt, maxSize); }

FileBytes readOpenFileAt(int fd, off_t offset, std::size_t maxSize) {
  if (offset < 0) return {{}, ReadError::Failed, EINVAL};
  return readRest(fd, offset, maxSize);
}

int writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = retryAfterSignal([&] { return ::write(fd, bytes.data(), bytes.size()); });
    if (n < 0) return errno;
    if (n == 0) return EIO;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return 0;
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
