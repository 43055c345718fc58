// Putting a run's layer in place. The layer is a tree a stranger's tool built: every entry is
// looked at without following links, opened relative to its folder's descriptor, and taken for
// what the overlay made of it: a character device 0/0 is a removal, a folder marked opaque
// replaces the folder beneath instead of adding to it. The tmpfs bounds the bytes and the
// entries; a depth and a count bound the walk, the folder's own removals included.
#include <dirent.h>
#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "base/Handles.hpp"
#include "platform/linux/RunLayer.hpp"

namespace strandel::platform::live {
namespace {

using base::UniqueFd;

constexpr int kMaxDepth = 64;
// Entries looked at in one merge, the folder's removed ones included (the layer itself holds
// at most as many as the tmpfs has inodes).
constexpr long kMaxEntries = 1 << 16;
// What the overlay marks a folder with that hides the one beneath (its "userxattr" names).
constexpr const char kOpaque[] = "user.overlay.opaque";

struct DirTraits {
  static DIR* invalid() noexcept { return nullptr; }
  static void free(DIR* dir) noexcept { ::closedir(dir); }
};
using UniqueDir = base::ScopedGeneric<DIR*, DirTraits>;

UniqueFd openAt(int folder, const char* name, int flags, mode_t mode = 0) {
  return UniqueFd(base::retryAfterSignal(
      [&] { return ::openat(folder, name, flags | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, mode); }));
}

// The names in a folder, one at a time ("." and ".." left out), through a descriptor of its own.
class Entries {
 public:
  explicit Entries(int folder) {
    int fd = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    dir_.reset(::fdopendir(fd));
    if (!dir_) ::close(fd);
  }
  const char* next() {
    while (dir_) {
      dirent* entry = ::readdir(dir_.get());
      if (!entry) return nullptr;
      if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
        return entry->d_name;
    }
    return nullptr;
  }

 private:
  UniqueDir dir_;
};

// Most runs write nothing: one read of the folder's first names tells, without the walk's
// directory stream. Anything that can't be read counts as not empty.
bool isEmptyFolder(int fd) {
  alignas(dirent64) char buffer[512];
  while (true) {
    long n = ::syscall(SYS_getdents64, fd, buffer, sizeof buffer);
    if (n == 0) return true;
    if (n < 0) return false;
    for (long at = 0; at < n;) {
      const auto* entry = reinterpret_cast<const dirent64*>(buffer + at);
      if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
        return false;
      if (entry->d_reclen == 0) return false;
      at += entry->d_reclen;
    }
  }
}

class Merge {
 public:
  void folder(int upper, int target, int depth) {
    if (depth > kMaxDepth) return;
    Entries entries(upper);
    while (const char* name = entries.next()) {
      if (++visited_ > kMaxEntries) return;
      struct stat info;
      if (::fstatat(upper, name, &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
      if (S_ISCHR(info.st_mode) && info.st_rdev == makedev(0, 0)) {
        remove(target, name, depth);
      } else if (S_ISDIR(info.st_mode)) {
        subfolder(upper, target, name, info, depth);
      } else if (S_ISREG(info.st_mode)) {
        file(upper, target, name, info, depth);
      } else if (S_ISLNK(info.st_mode)) {
        link(upper, target, name, depth);
      } else if (S_ISFIFO(info.st_mode)) {
        remove(target, name, depth);
        ::mkfifoat(target, name, info.st_mode & 0777);
      }
      // Sockets and devices: a tool can make neither, and neither would mean anything here.
    }
  }

 private:
  void subfolder(int upper, int target, const char* name, const struct stat& info, int depth) {
    UniqueFd from = openAt(upper, name, O_RDONLY | O_DIRECTORY);
    if (!from) return;
    char mark[2] = {};
    bool opaque = ::fgetxattr(from.get(), kOpaque, mark, sizeof mark) > 0 && mark[0] == 'y';
    struct stat existing;
    bool there = ::fstatat(target, name, &existing, AT_SYMLINK_NOFOLLOW) == 0;
    if (there && (opaque || !S_ISDIR(existing.st_mode))) {
      remove(target, name, depth);
      there = false;
    }
    if (!there && ::mkdirat(target, name, 0700) != 0) return;
    UniqueFd to = openAt(target, name, O_RDONLY | O_DIRECTORY);
    if (!to) return;
    ::fchmod(to.get(), info.st_mode & 01777);
    folder(from.get(), to.get(), depth + 1);
  }

  // A changed file is written whole in the overlay's layer: it replaces the file beneath, and a
  // link or folder by that name, rather than writing through them.
  void file(int upper, int target, const char* name, const struct stat& info, int depth) {
    UniqueFd from = openAt(upper, name, O_RDONLY);
    if (!from) return;
    remove(target, name, depth);
    UniqueFd to = openAt(target, name, O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (!to) return;
    ::fchmod(to.get(), info.st_mode & 0777);
    off_t offset = 0;
    while (offset < info.st_size) {
      ssize_t n = base::retryAfterSignal([&] {
        return ::sendfile(to.get(), from.get(), &offset,
                          static_cast<std::size_t>(info.st_size - offset));
      });
      if (n <= 0) break;
    }
    const timespec times[2] = {info.st_atim, info.st_mtim};
    ::futimens(to.get(), times);
  }

  void link(int upper, int target, const char* name, int depth) {
    char text[PATH_MAX];
    ssize_t n = ::readlinkat(upper, name, text, sizeof text - 1);
    if (n < 0) return;
    text[n] = '\0';
    remove(target, name, depth);
    ::symlinkat(text, target, name);
  }

  // Removes the entry and, for a folder, everything beneath it, as far as the bounds allow.
  void remove(int target, const char* name, int depth) {
    if (::unlinkat(target, name, 0) == 0 || (errno != EISDIR && errno != EPERM)) return;
    if (depth <= kMaxDepth) {
      if (UniqueFd inside = openAt(target, name, O_RDONLY | O_DIRECTORY)) {
        Entries entries(inside.get());
        while (const char* entry = entries.next()) {
          if (++visited_ > kMaxEntries) return;
          remove(inside.get(), entry, depth + 1);
        }
      }
    }
    ::unlinkat(target, name, AT_REMOVEDIR);
  }

  long visited_ = 0;
};

}  // namespace

bool mergeRunLayer(int layerRoot, int folder) {
  UniqueFd upper = openAt(layerRoot, "upper", O_RDONLY | O_DIRECTORY);
  if (!upper || isEmptyFolder(upper.get())) return false;
  // The folder's descriptor may be a path-only one; entries are made through one that can list.
  UniqueFd target = openAt(folder, ".", O_RDONLY | O_DIRECTORY);
  if (!target) return true;
  Merge().folder(upper.get(), target.get(), 0);
  return true;
}

}  // namespace strandel::platform::live
