// Reading and writing whole files, and telling one version of a file from another without
// reading it. Every reader of a whole file goes through here, each with a size cap of its own,
// and so does every writer.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace strandel::base {

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

/// Why a file's bytes could not be had.
enum class ReadError {
  None,
  Missing,     // nothing at the path
  Link,        // a link where links are refused
  NotRegular,  // a folder, FIFO, device, ...
  TooLarge,    // more than the cap, or more than memory holds
  Failed,      // the open or a read failed otherwise (see `systemError`)
};

struct FileBytes {
  std::string bytes;
  ReadError error = ReadError::None;
  int systemError = 0;  // errno of a failed open or read
  explicit operator bool() const noexcept { return error == ReadError::None; }
};

/// The most a reader may ask for: no cap but memory.
inline constexpr std::size_t kNoSizeCap = static_cast<std::size_t>(-1);

enum class Links { Follow, Refuse };

/// Every byte of the regular file open at `fd`, read to its end; TooLarge as soon as it holds
/// more than `maxSize` bytes. Memory running out is TooLarge too, never an exception.
FileBytes readOpenFile(int fd, std::size_t maxSize);

/// The same from byte `offset` of the file on, read by position: the descriptor's own offset is
/// neither used nor moved, so a file another party has just written through a shared
/// descriptor reads from where it is meant to.
FileBytes readOpenFileAt(int fd, off_t offset, std::size_t maxSize);

/// The whole regular file at `path`, opened non-blocking (a FIFO is refused, not waited on),
/// through a link only when `links` allows it.
FileBytes readFileBytes(const std::string& path, std::size_t maxSize, Links links = Links::Follow);

/// Writes every byte of `bytes` to `fd`, going on after short writes and signals. 0 when all
/// are written, else the errno of the write that failed (EIO for one that wrote nothing), so
/// that a full disk says so rather than a stream's "Input/output error".
int writeAll(int fd, std::string_view bytes);

}  // namespace strandel::base
