// Starting and reaping the child processes of the live host. Every run goes through here, so
// that signal state, descriptors and reaping are decided in one place.
#pragma once

#include <sys/types.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "base/Handles.hpp"
#include "platform/Machine.hpp"

namespace strandel::platform::live {

struct ChildTraits {
  static pid_t invalid() noexcept { return -1; }
  /// Reaps the child if it has ended, else leaves it on the list of pending children.
  static void free(pid_t pid) noexcept;
};
/// A started child process. When the value goes, the child is reaped without waiting: one that
/// is still running is reaped by a later run (see reapPendingChildren).
using ChildProcess = base::ScopedGeneric<pid_t, ChildTraits>;

struct SpawnRequest {
  std::string program;                 // the path to execute, also the child's argv[0]
  std::vector<std::string> arguments;  // argv[1...]
  Environment environment = Environment::Empty;
  StdStream standardInput = StdStream::Inherit;
  StdStream standardError = StdStream::Inherit;
  int standardOutput = -1;       // the descriptor to become the child's stdout; -1: inherit
  int standardErrorOutput = -1;  // the descriptor to become its stderr; -1: as standardError says
};

/// argv for exec: the program's path, the arguments, a null, pointing into the request. Empty
/// when the path or an argument holds a NUL, which exec can't pass.
std::vector<char*> argumentVector(const SpawnRequest& request);

/// Starts the program. An invalid value when it can't be started: missing, not executable, not
/// an executable format, a path or argument holding a NUL, or no resources left.
ChildProcess spawnChild(const SpawnRequest& request);

/// How a reaped child ended, as the shell gives it (`$?`): its exit code, or 128 plus the
/// number of the signal that ended it.
using ExitStatus = int;

/// Waits until the child has ended and reaps it (retrying after signals): how it ended; nothing
/// for an empty value.
std::optional<ExitStatus> waitForExit(ChildProcess child);

/// Ends the child and its process group at once (SIGKILL). A sandboxed child leads a session
/// of its own, so that is all it started, unless its own PID namespace already took care.
void killGroup(const ChildProcess& child);

/// Reaps the child once it has closed its output: a child that is ending is waited for a
/// short while; one that keeps running after that is left to a later run to reap.
void reapAfterOutput(ChildProcess child);

/// How long a child that has closed its output is given to finish exiting. Its output is read to
/// the end, so a child that is exiting is usually reapable within microseconds; one still running
/// after this detached from its output: a live tool is left to a later run, a sandboxed one has
/// its whole process tree ended (nothing it started may outlive the call).
inline constexpr auto kExitGrace = std::chrono::milliseconds(100);

/// Asks `ended` until it says true or `until` has passed: whether it said so. A child that has
/// closed its output is usually gone within microseconds, so it is asked again after pauses
/// that start at 20 µs and double, up to 5 ms; `pause(duration)` spends each one (a sleep, or
/// a wait on a stream that must be passed on meanwhile).
template <class Ended, class Pause>
bool waitWithBackoff(Ended&& ended, std::chrono::steady_clock::time_point until, Pause&& pause) {
  using Clock = std::chrono::steady_clock;
  Clock::duration step = std::chrono::microseconds(20);
  while (true) {
    if (ended()) return true;
    Clock::time_point now = Clock::now();
    if (now >= until) return false;
    pause(std::min(step, until - now));
    step = std::min<Clock::duration>(2 * step, std::chrono::milliseconds(5));
  }
}

/// Reaps the child if it has ended (the value is then empty): how it ended; nothing while it is
/// still running, or for a value that was empty already.
std::optional<ExitStatus> reapIfEnded(ChildProcess& child);

/// Reaps, without waiting, every child left running by an earlier run that has ended since.
void reapPendingChildren();

/// Children started by earlier runs that were still running when last looked at.
std::size_t pendingChildCount();

}  // namespace strandel::platform::live
