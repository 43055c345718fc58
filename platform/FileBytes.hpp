// Reading whole files, and telling one version of a file from another without reading it.
// Shared by the host services that cache what they read from files.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <optional>
#include <string>

namespace strandel::platform {

/// What tells one version of a file from another: a file replaced by rename has a new inode,
/// one edited in place a new size or modification time.
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  std::int64_t mtimeSeconds = 0;
  long mtimeNanoseconds = 0;
  friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

FileIdentity identityOf(const struct stat& info);

/// Whether the file was changed so recently that another change in place could leave the same
/// identity: modification times move in clock ticks of a few milliseconds, so two same-size
/// writes within one tick look alike. A cache must not trust such an identity yet.
bool changedTooRecently(const FileIdentity& identity);

/// The identity of the file at `path`; nothing when there is none (or it can't be looked at).
std::optional<FileIdentity> identityOfPath(const std::string& path);

/// Every byte that can be read from `fd` until its end; nothing on a read error. `sizeHint`
/// (the size the file had) only sizes the first read.
std::optional<std::string> readToEnd(int fd, std::size_t sizeHint = 0);

/// The whole regular file at `path`; nothing when it is missing, not a regular file, or
/// can't be read.
std::optional<std::string> readFileBytes(const std::string& path);

}  // namespace strandel::platform
