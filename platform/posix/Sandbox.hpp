// The confinement of processes that run someone else's code (a machine image's tools), as the
// process runner sees it. How a child is confined is the operating system's part
// (platform/linux/); the runner and the image backend are only handed a Sandbox.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "base/Handles.hpp"
#include "platform/posix/Spawn.hpp"

namespace strandel::platform::live {

using base::UniqueFd;

enum class SandboxAccess { Read, ReadWrite };

/// A folder (everything beneath it) or a file that confined processes may reach.
struct SandboxPath {
  UniqueFd fd;  // opened with O_PATH
  SandboxAccess access = SandboxAccess::Read;
};

/// What a run wrote, held apart from where it goes until the run has ended.
class HeldWrites {
 public:
  virtual ~HeldWrites() = default;
  /// Puts the writes in place. Called once, when the run and all it started have ended; writes
  /// never put in place are dropped.
  virtual void putInPlace() = 0;
};

struct SandboxedChild {
  ChildProcess process;
  std::unique_ptr<HeldWrites> writes;  // null: the run writes in place
};

class Sandbox {
 public:
  virtual ~Sandbox() = default;

  /// False when nothing may be started under it: the confinement could not be built, and
  /// failing open would run the code unconfined.
  virtual bool usable() const = 0;

  /// Starts the request's program confined; an invalid process when it can't be started, as
  /// spawnChild.
  virtual SandboxedChild spawn(const SpawnRequest& request) const = 0;
};

/// Makes the sandbox for processes that may reach the given paths (and what the host needs to
/// run a program at all). Whoever chooses the machine hands one to the image backend.
using SandboxMaker = std::function<std::shared_ptr<const Sandbox>(std::vector<SandboxPath>)>;

}  // namespace strandel::platform::live
