#include "platform/posix/Spawn.hpp"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <thread>

#include "text/CharacterClass.hpp"

extern char** environ;

namespace strandel::platform::live {
namespace {

// Children that were still running when their run ended. A process-wide list because the
// runs that leave them and the runs that reap them need not share a Processes object.
struct PendingChildren {
  std::mutex mutex;
  std::vector<pid_t> pids;
};

PendingChildren& pendingChildren() {
  static PendingChildren* pending = new PendingChildren;  // never destroyed: used at exit too
  return *pending;
}

// True when the child has been reaped now (or was never ours to reap).
bool reapIfEnded(pid_t pid) noexcept {
  pid_t result = base::retryAfterSignal([&] { return ::waitpid(pid, nullptr, WNOHANG); });
  return result != 0;
}

struct FileActionsTraits {
  static posix_spawn_file_actions_t* invalid() noexcept { return nullptr; }
  static void free(posix_spawn_file_actions_t* actions) noexcept {
    posix_spawn_file_actions_destroy(actions);
  }
};
struct SpawnAttrTraits {
  static posix_spawnattr_t* invalid() noexcept { return nullptr; }
  static void free(posix_spawnattr_t* attr) noexcept { posix_spawnattr_destroy(attr); }
};

ExitStatus shellStatus(int waitStatus) {
  if (WIFSIGNALED(waitStatus)) return 128 + WTERMSIG(waitStatus);
  return WEXITSTATUS(waitStatus);
}

}  // namespace

std::vector<char*> argumentVector(const SpawnRequest& request) {
  if (text::hasNul(request.program) ||
      std::any_of(request.arguments.begin(), request.arguments.end(),
                  [](const std::string& a) { return text::hasNul(a); })) {
    return {};
  }
  std::vector<char*> argv;
  argv.reserve(request.arguments.size() + 2);
  argv.push_back(const_cast<char*>(request.program.c_str()));
  for (const std::string& argument : request.arguments)
    argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  return argv;
}

void ChildTraits::free(pid_t pid) noexcept {
  if (reapIfEnded(pid)) return;
  try {
    PendingChildren& pending = pendingChildren();
    std::lock_guard lock(pending.mutex);
    pending.pids.push_back(pid);
  } catch (...) {
    // Out of memory: the child stays a zombie until the process ends, which is all that is lost.
  }
}

ChildProcess spawnChild(const SpawnRequest& request) {
  std::vector<char*> argv = argumentVector(request);
  if (argv.empty()) return {};
  char* emptyEnvironment[] = {nullptr};
  char** envp = request.environment == Environment::Host ? environ : emptyEnvironment;

  posix_spawn_file_actions_t actionsStorage;
  if (posix_spawn_file_actions_init(&actionsStorage) != 0) return {};
  base::ScopedGeneric<posix_spawn_file_actions_t*, FileActionsTraits> actions(&actionsStorage);
  // Standard output first: the null device opened for stdin or stderr below can then never
  // land on the descriptor that is being duplicated.
  if (request.standardOutput >= 0 &&
      posix_spawn_file_actions_adddup2(actions.get(), request.standardOutput, 1) != 0) {
    return {};
  }
  if (request.standardInput == StdStream::NullDevice &&
      posix_spawn_file_actions_addopen(actions.get(), 0, "/dev/null", O_RDONLY, 0) != 0) {
    return {};
  }
  if (request.standardErrorOutput >= 0) {
    if (posix_spawn_file_actions_adddup2(actions.get(), request.standardErrorOutput, 2) != 0)
      return {};
  } else if (request.standardError == StdStream::NullDevice &&
             posix_spawn_file_actions_addopen(actions.get(), 2, "/dev/null", O_WRONLY, 0) != 0) {
    return {};
  }
#if defined(__GLIBC__) && (__GLIBC__ > 2 || __GLIBC_MINOR__ >= 34)
  // Only 0, 1 and 2 reach a tool: a descriptor the host left open without close-on-exec is
  // none of its business.
  if (posix_spawn_file_actions_addclosefrom_np(actions.get(), 3) != 0) return {};
#endif

  posix_spawnattr_t attrStorage;
  if (posix_spawnattr_init(&attrStorage) != 0) return {};
  base::ScopedGeneric<posix_spawnattr_t*, SpawnAttrTraits> attr(&attrStorage);
  // A tool starts with no blocked signals and with SIGPIPE at its default, whatever the host
  // has done to its own: hosts often ignore SIGPIPE, and an ignored signal survives exec.
  sigset_t none, pipeOnly;
  sigemptyset(&none);
  sigemptyset(&pipeOnly);
  sigaddset(&pipeOnly, SIGPIPE);
  if (posix_spawnattr_setsigmask(attr.get(), &none) != 0 ||
      posix_spawnattr_setsigdefault(attr.get(), &pipeOnly) != 0 ||
      posix_spawnattr_setflags(attr.get(), POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF) != 0) {
    return {};
  }

  // glibc reports a failed exec (missing, not executable, bad format) through the result, so a
  // tool that can't be started is told apart here from one that starts and prints nothing.
  pid_t pid = -1;
  if (posix_spawn(&pid, request.program.c_str(), actions.get(), attr.get(), argv.data(), envp) != 0)
    return {};
  return ChildProcess(pid);
}

std::optional<ExitStatus> waitForExit(ChildProcess child) {
  if (!child) return std::nullopt;
  pid_t pid = child.release();
  int status = 0;
  if (base::retryAfterSignal([&] { return ::waitpid(pid, &status, 0); }) != pid)
    return std::nullopt;
  return shellStatus(status);
}

void reapAfterOutput(ChildProcess child) {
  auto ended = [&] { return !child || reapIfEnded(child.get()); };
  auto sleep = [](std::chrono::steady_clock::duration pause) {
    std::this_thread::sleep_for(pause);
  };
  if (waitWithBackoff(ended, std::chrono::steady_clock::now() + kExitGrace, sleep)) {
    child.release();
  }
  // Otherwise dropping the value reaps the child if it has ended, or leaves it pending.
}

std::optional<ExitStatus> reapIfEnded(ChildProcess& child) {
  if (!child) return std::nullopt;
  int status = 0;
  pid_t result = base::retryAfterSignal([&] { return ::waitpid(child.get(), &status, WNOHANG); });
  if (result == 0) return std::nullopt;
  child.release();
  // Not ours to reap (an error): nothing is known of how it ended, and it is let go all the same.
  return result < 0 ? ExitStatus{255} : shellStatus(status);
}

void killGroup(const ChildProcess& child) {
  if (!child) return;
  ::kill(-child.get(), SIGKILL);
  ::kill(child.get(), SIGKILL);
}

void reapPendingChildren() {
  PendingChildren& pending = pendingChildren();
  std::lock_guard lock(pending.mutex);
  std::erase_if(pending.pids, [](pid_t pid) { return reapIfEnded(pid); });
}

std::size_t pendingChildCount() {
  PendingChildren& pending = pendingChildren();
  std::lock_guard lock(pending.mutex);
  return pending.pids.size();
}

}  // namespace strandel::platform::live
