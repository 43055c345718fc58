// What one run may write: the folder its tools may write (an image's tmp/) is covered, in the
// run's own mount namespace, by an overlay whose upper layer is a size-limited tmpfs of that
// run's own. The tool sees the folder as it is and writes into the tmpfs; once the run has
// ended, what it wrote there is put in place in the folder itself.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>

namespace strandel::platform::live {

/// The most one run may leave written in the folder: new files, files it changed (copied whole
/// into its layer first) and folders it made, together.
inline constexpr std::size_t kRunWriteLimit = std::size_t{64} << 20;

/// The folder to lay each run's layer over, as the sandbox found it when it was made.
struct LayerTarget {
  std::string path;  // its path, as the kernel names the sandbox's descriptor of it
  dev_t device = 0;  // what that path must still lead to in the run's namespace
  ino_t inode = 0;
};

enum class LayerOutcome {
  Made,     // the layer covers the folder; its tmpfs's root is handed out
  Refused,  // the kernel made no layer (errno says why); the folder is as it was
  Moved,    // the path no longer leads to the folder, or a half-made layer could not be undone
};

/// A layer as laid: descriptors the caller owns.
struct LaidLayer {
  int tmpfsRoot = -1;    // its "upper" folder holds what the run writes
  int overlayRoot = -1;  // what the tool sees in the folder's place
};

/// Lays the layer over the target, in the calling process's own mount namespace (made in a
/// user namespace where it holds every capability). Only system calls, nothing allocated: it
/// runs between clone and exec. `layer` is filled only when the layer is made.
LayerOutcome layRunLayer(const LayerTarget& target, LaidLayer& layer);

/// Puts what a run left in its layer (the tmpfs's root, `layerRoot`) in place in `folder`: new
/// and changed files, folders, links and FIFOs are written there, and what it removed is removed.
/// Called once the run and everything it started have ended. Never follows a link in either
/// tree; set-id bits are not carried over; past a depth or a count of entries it stops, leaving
/// the rest unwritten. False when the layer held nothing (the folder is then left as it was).
bool mergeRunLayer(int layerRoot, int folder);

}  // namespace strandel::platform::live
