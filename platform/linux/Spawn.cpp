#include "platform/linux/Spawn.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>

extern char** environ;

namespace strandel::platform::live {
namespace {

// How long a child that has closed its output is given to finish exiting before it is left to
// a later run. Its output is read to the end, so a child that is exiting is usually reapable
// within microseconds; one still running after this is a tool that detached from its output,
// and the run that started it must not wait for it.
constexpr int kExitGraceMilliseconds = 100;

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
  static void free(posix_spawn_file_actions_t* actions) noexcept { posix_spawn_file_actions_destroy(actions); }
};
struct SpawnAttrTraits {
  static posix_spawnattr_t* invalid() noexcept { return nullptr; }
  static void free(posix_spawnattr_t* attr) noexcept { posix_spawnattr_destroy(attr); }
};

bool hasNul(const std::string& text) { return text.find('\0') != std::string::npos; }

// The child's side of a confined start. Only async-signal-safe calls: the parent may have
// other threads, whose locks the child inherits held. Every signal is blocked on entry.
[[noreturn]] void becomeConfinedTool(const SpawnRequest& request, char** argv, char** envp, int report) {
  // A handler of the parent must not run in the child before exec, and SIGPIPE starts at its
  // default whatever the host did to it, as posix_spawn above arranges.
  for (int signal = 1; signal < NSIG; ++signal) {
    struct sigaction action {};
    if (::sigaction(signal, nullptr, &action) != 0) continue;
    if (signal == SIGPIPE || (action.sa_handler != SIG_IGN && action.sa_handler != SIG_DFL)) {
      action = {};
      action.sa_handler = SIG_DFL;
      ::sigaction(signal, &action, nullptr);
    }
  }
  bool ready = true;
  if (request.standardOutput >= 0) {
    ready = request.standardOutput == 1 ? ::fcntl(1, F_SETFD, 0) == 0 : ::dup2(request.standardOutput, 1) == 1;
  }
  auto nullDevice = [&](int target, int flags) {
    int fd = ::open("/dev/null", flags);
    if (fd < 0) return false;
    bool done = fd == target || ::dup2(fd, target) == target;
    if (fd != target) ::close(fd);
    return done;
  };
  if (ready && request.standardInput == StdStream::NullDevice) ready = nullDevice(0, O_RDONLY);
  if (ready && request.standardError == StdStream::NullDevice) ready = nullDevice(2, O_WRONLY);
  // No new privileges first: the kernel only lets an unprivileged process confine itself so,
  // and a set-user-ID program can then never shed the confinement.
  if (ready) ready = ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0;
  if (ready) ready = ::syscall(SYS_landlock_restrict_self, request.landlockRuleset, 0) == 0;
  if (ready) {
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::execve(request.program.c_str(), argv, envp);
  }
  int error = errno;
  ssize_t ignored = ::write(report, &error, sizeof error);
  (void)ignored;
  ::_exit(127);
}

// fork and exec, for a child that confines itself between the two (posix_spawn has no step for
// that). The exec's failure comes back through a close-on-exec pipe: nothing read means the
// exec happened.
ChildProcess spawnConfined(const SpawnRequest& request, char** argv, char** envp) {
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) return {};
  UniqueFd reportRead(report[0]), reportWrite(report[1]);
  sigset_t all, previous;
  sigfillset(&all);
  ::pthread_sigmask(SIG_SETMASK, &all, &previous);
  pid_t pid = ::fork();
  if (pid == 0) becomeConfinedTool(request, argv, envp, reportWrite.get());
  ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  reportWrite.reset();
  if (pid < 0) return {};
  int error = 0;
  ssize_t n = base::retryAfterSignal([&] { return ::read(reportRead.get(), &error, sizeof error); });
  if (n > 0) {
    base::retryAfterSignal([&] { return ::waitpid(pid, nullptr, 0); });
    return {};
  }
  return ChildProcess(pid);
}

}  // namespace

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
  if (hasNul(request.program) || std::any_of(request.arguments.begin(), request.arguments.end(), hasNul)) {
    return {};
  }
  std::vector<char*> argv;
  argv.reserve(request.arguments.size() + 2);
  argv.push_back(const_cast<char*>(request.program.c_str()));
  for (const std::string& argument : request.arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  char* emptyEnvironment[] = {nullptr};
  char** envp = request.environment == Environment::Host ? environ : emptyEnvironment;
  if (request.landlockRuleset >= 0) return spawnConfined(request, argv.data(), envp);

  posix_spawn_file_actions_t actionsStorage;
  if (posix_spawn_file_actions_init(&actionsStorage) != 0) return {};
  base::ScopedGeneric<posix_spawn_file_actions_t*, FileActionsTraits> actions(&actionsStorage);
  // Standard output first: the null device opened for stdin or stderr below can then never
  // land on the descriptor that is being duplicated.
  if (request.standardOutput >= 0 && posix_spawn_file_actions_adddup2(actions.get(), request.standardOutput, 1) != 0) {
    return {};
  }
  if (request.standardInput == StdStream::NullDevice &&
      posix_spawn_file_actions_addopen(actions.get(), 0, "/dev/null", O_RDONLY, 0) != 0) {
    return {};
  }
  if (request.standardError == StdStream::NullDevice &&
      posix_spawn_file_actions_addopen(actions.get(), 2, "/dev/null", O_WRONLY, 0) != 0) {
    return {};
  }

  posix_spawnattr_t attrStorage;
  if (posix_spawnattr_init(&attrStorage) != 0) return {};
  base::ScopedGeneric<posix_spawnattr_t*, SpawnAttrTraits> attr(&attrStorage);
  // A tool starts with no blocked signals and with SIGPIPE at its default, whatever the host
  // has done to its own: hosts often ignore SIGPIPE, and an ignored signal survives exec.
  sigset_t none, pipeOnly;
  sigemptyset(&none);
  sigemptyset(&pipeOnly);
  sigaddset(&pipeOnly, SIGPIPE);
  if (posix_spawnattr_setsigmask(attr.get(), &none) != 0 || posix_spawnattr_setsigdefault(attr.get(), &pipeOnly) != 0 ||
      posix_spawnattr_setflags(attr.get(), POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF) != 0) {
    return {};
  }

  // glibc reports a failed exec (missing, not executable, bad format) through the result, so a
  // tool that can't be started is told apart here from one that starts and prints nothing.
  pid_t pid = -1;
  if (posix_spawn(&pid, request.program.c_str(), actions.get(), attr.get(), argv.data(), envp) != 0) return {};
  return ChildProcess(pid);
}

void waitForExit(ChildProcess child) {
  if (!child) return;
  pid_t pid = child.release();
  base::retryAfterSignal([&] { return ::waitpid(pid, nullptr, 0); });
}

void reapAfterOutput(ChildProcess child) {
  if (!child || reapIfEnded(child.get())) {
    child.release();
    return;
  }
  // A pidfd becomes readable when the child ends, so the wait ends as soon as it does.
  UniqueFd pidfd(static_cast<int>(::syscall(SYS_pidfd_open, child.get(), 0)));
  if (pidfd) {
    pollfd entry{pidfd.get(), POLLIN, 0};
    base::retryAfterSignal([&] { return ::poll(&entry, 1, kExitGraceMilliseconds); });
  }
  // Dropping the value reaps the child if it has ended, or leaves it pending.
}

void reapPendingChildren() {
  PendingChildren& pending = pendingChildren();
  std::lock_guard lock(pending.mutex);
  std::erase_if(pending.pids, reapIfEnded);
}

std::size_t pendingChildCount() {
  PendingChildren& pending = pendingChildren();
  std::lock_guard lock(pending.mutex);
  return pending.pids.size();
}

}  // namespace strandel::platform::live
