// The confinement of processes that run someone else's code (a machine image's tools): a
// Landlock ruleset that a child takes on between fork and exec.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "base/Handles.hpp"

namespace strandel::platform::live {

using base::UniqueFd;

enum class SandboxAccess { Read, ReadWrite };

/// A folder (everything beneath it) or a file that confined processes may reach.
struct SandboxPath {
  UniqueFd fd;  // opened with O_PATH
  SandboxAccess access = SandboxAccess::Read;
};

/// What confined processes may do: read and run what is beneath the given paths and the host's
/// program and library folders (/usr, /bin, /lib*, the dynamic linker's files, /dev/null and the
/// random devices), write only beneath the ReadWrite paths, and, where the kernel can enforce
/// it (Landlock ABI 4), open no TCP connection and accept none; from ABI 6 they can't signal or
/// reach the abstract sockets of processes outside.
class Sandbox {
 public:
  explicit Sandbox(std::vector<SandboxPath> paths) : paths_(std::move(paths)) {}

  /// The ruleset for landlock_restrict_self, built at the first call; -1 when the kernel has no
  /// Landlock (said once per process on stderr: the processes then run unconfined) or the
  /// ruleset can't be built (then nothing may be started under it: see `usable`).
  int ruleset() const;

  /// False when the kernel has Landlock but the ruleset could not be built: failing open would
  /// run the code unconfined, so no process is started.
  bool usable() const;

 private:
  void build() const;

  std::vector<SandboxPath> paths_;
  mutable std::once_flag built_;
  mutable UniqueFd ruleset_;
  mutable bool usable_ = false;
};

/// The Landlock ABI version of the running kernel; 0 when it has none (or it is turned off).
int landlockAbi();

}  // namespace strandel::platform::live
