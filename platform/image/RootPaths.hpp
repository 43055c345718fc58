// Platform paths of an image: "/P" names IMAGE/root/P, and nothing outside root/ can be named.
// An image is someone else's files: every path is resolved by the kernel beneath the root
// folder, held open, so that a link or a folder swapped in while a lookup runs can't lead out.
#pragma once

#include <sys/types.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "base/Handles.hpp"

namespace strandel::platform::image {

using base::UniqueFd;

/// Whether the last component of a path is followed when it is a link.
enum class LastLink { Follow, Keep };

/// Who resolves: the kernel (openat2 with RESOLVE_IN_ROOT), or a walk of one component at a
/// time, each opened with O_NOFOLLOW beneath the folder before it. The kernel is used where it
/// can; the walk is the fallback where openat2 is missing, and tests ask for it by name.
enum class Resolver { Kernel, Walk };

/// A path found inside the root: an open descriptor (O_PATH) and what it is on the imaged
/// machine, links resolved ("/a/b").
struct Located {
  UniqueFd fd;
  std::string imagePath;
};

/// The folder that holds a path's last component, open, and that component's name.
struct ParentFolder {
  UniqueFd folder;
  std::string name;
};

/// An image's root folder, held open for the life of the machine.
///
/// Paths resolve as they would on the imaged machine: absolute links mean the image's own
/// files, ".." stops at the root, and a relative path is taken from the root, the machine's only
/// working folder. A path that does not exist, or holds a NUL, gives nothing.
class ImageRoot {
 public:
  /// Opens the folder `hostPath` (absolute, links already resolved); nothing when it can't.
  static std::shared_ptr<const ImageRoot> open(const std::string& hostPath,
                                               Resolver resolver = Resolver::Kernel);

  /// Opens `path` with the open(2) `flags` (O_CLOEXEC is added); `last` Keep adds O_NOFOLLOW.
  /// An invalid descriptor when the path does not exist or can't be opened so.
  UniqueFd openFile(std::string_view path, int flags, LastLink last = LastLink::Follow,
                    mode_t mode = 0) const;

  /// Finds `path` with its links resolved, for a caller that needs its name on the machine.
  std::optional<Located> locate(std::string_view path) const;

  /// Opens the folder of `path`'s last component, which is not followed and need not exist.
  /// Nothing when the folder does not exist or the last component is "", "." or "..".
  std::optional<ParentFolder> parentOf(std::string_view path) const;

  /// The root's own path on the host.
  const std::string& hostPath() const { return hostPath_; }
  int fd() const { return fd_.get(); }

  ImageRoot(UniqueFd fd, std::string hostPath, Resolver resolver)
      : fd_(std::move(fd)), hostPath_(std::move(hostPath)), resolver_(resolver) {}

 private:
  UniqueFd fd_;
  std::string hostPath_;
  Resolver resolver_;
};

}  // namespace strandel::platform::image
