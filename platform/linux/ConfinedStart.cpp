// The child's side runs on a stack of its own in the parent's memory, the parent suspended
// until the exec (CLONE_VM | CLONE_VFORK, as posix_spawn does): only async-signal-safe calls,
// nothing allocated, failure reported through that shared memory.
#include "platform/linux/ConfinedStart.hpp"

#include <fcntl.h>
#include <linux/capability.h>
#include <linux/landlock.h>
#include <linux/seccomp.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <string>

#include "platform/app/ProgramName.hpp"
#include "platform/linux/PassDescriptor.hpp"
#include "platform/linux/RunLayer.hpp"

extern char** environ;

namespace strandel::platform::live {
namespace {

// PIDFD_GET_MNT_NAMESPACE (Linux 6.11), which this system's headers may not have yet.
constexpr unsigned long kPidfdGetMountNamespace = _IO(0xFF, 3);

// Made for each start, after joining the kept user and network namespaces.
constexpr int kFreshNamespaces =
    CLONE_NEWNS | CLONE_NEWPID | CLONE_NEWIPC | CLONE_NEWUTS | CLONE_NEWCGROUP;
// Enough for the child's few frames, sanitizer builds included.
constexpr std::size_t kChildStackSize = 256 * 1024;
// Every start maps room for two: the joining process's stack and the program's.
constexpr std::size_t kStackMapping = 2 * kChildStackSize;

// What one run may take. A file written past the size limit ends the writer (SIGXFSZ). What a
// run leaves in the one folder it may write is bounded by the run's own layer over that folder
// (RunLayer.hpp); the file limit still bounds the output file a run is handed, and is all that
// bounds the folder where no layer can be made (no user namespaces, or no overlay for them).
constexpr rlim_t kFileSizeLimit = rlim_t{64} << 20;
constexpr rlim_t kAddressSpaceLimit = rlim_t{4} << 30;
// Processes at once. Counted by the tool's own PID namespace, whose highest PID is set to one
// more: that binds root too, whom RLIMIT_NPROC never stops. The kernel's least highest PID is
// 301. On a kernel whose PID namespaces have no limit of their own (before 6.14), or without
// namespaces, RLIMIT_NPROC stands in, which binds every user but root. Running a root caller's
// tool as an unprivileged uid (mapped to root inside its user namespace) would make that limit
// bind, but the tool would then have that uid's file rights on the host's disk: an image that
// root unpacked into a folder only root may enter could no longer be read, nor its tmp/ written.
constexpr rlim_t kProcessLimit = 300;
constexpr char kPidMax[] = "301";

// What the child says when it can't go on to the program.
struct ChildResult {
  int error;       // why
  pid_t started;   // the program's process, once started through a process joining the namespaces
  int layerError;  // why the run got no layer of its own over the folder it may write; 0: it did
};

// ThreadSanitizer takes every clone for a fork and runs its fork bookkeeping in the child,
// which in memory shared with the parent would corrupt the parent's; its builds start the
// child in a copy of the parent's memory instead, still suspending the parent until the exec.
#if defined(__SANITIZE_THREAD__)
constexpr int kSharedMemory = 0;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
constexpr int kSharedMemory = 0;
#else
constexpr int kSharedMemory = CLONE_VM;
#endif
#else
constexpr int kSharedMemory = CLONE_VM;
#endif

// AddressSanitizer marks the children's frames in memory shared with the parent, and a child
// that executes the program leaves its marks behind; its builds map a fresh stack every start.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kKeepStack = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kKeepStack = false;
#else
constexpr bool kKeepStack = true;
#endif
#else
constexpr bool kKeepStack = true;
#endif

struct ChildContext {
  const SpawnRequest* request;
  const Confinement* confinement;
  char** argv;
  char** envp;
  bool ownNamespaces;
  void* programStackTop;  // where the program's process runs, when a joining process starts it
  ChildResult* result;    // in memory the child shares with the parent, however it is started
  int layerSocket;        // where the joining process sends the run's layer; -1: no layer
  int runRuleset;         // the file rule made for the run's layer, by the joining process; or -1
};

// Writes `text` to the file at `path` (a /proc file of the child's own).
bool writeFile(const char* path, const char* text, std::size_t size) {
  int fd = ::open(path, O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool done = ::write(fd, text, size) == static_cast<ssize_t>(size);
  ::close(fd);
  return done;
}

// "ID ID 1\n": the one id of the parent's kept as it is inside.
std::size_t idMap(char* out, unsigned id) {
  char digits[16];
  std::size_t count = 0;
  do {
    digits[count++] = static_cast<char>('0' + id % 10);
    id /= 10;
  } while (id != 0);
  std::size_t n = 0;
  for (int copy = 0; copy < 2; ++copy) {
    for (std::size_t i = count; i > 0; --i) out[n++] = digits[i - 1];
    out[n++] = ' ';
  }
  out[n++] = '1';
  out[n++] = '\n';
  return n;
}

bool mapIds(uid_t uid, gid_t gid) {
  char map[48];
  if (!writeFile("/proc/self/setgroups", "deny", 4)) return false;
  if (!writeFile("/proc/self/uid_map", map, idMap(map, uid))) return false;
  return writeFile("/proc/self/gid_map", map, idMap(map, gid));
}

bool redirect(int from, int target) {
  return from == target ? ::fcntl(target, F_SETFD, 0) == 0 : ::dup2(from, target) == target;
}

bool nullDevice(int target, int flags) {
  int fd = ::open("/dev/null", flags | O_CLOEXEC);
  if (fd < 0) return false;
  bool done = ::dup2(fd, target) == target;
  ::close(fd);
  return done;
}

bool standardStreams(const SpawnRequest& request) {
  if (request.standardOutput >= 0 && !redirect(request.standardOutput, 1)) return false;
  if (request.standardErrorOutput >= 0) {
    if (!redirect(request.standardErrorOutput, 2)) return false;
  } else if (request.standardError == StdStream::NullDevice && !nullDevice(2, O_WRONLY)) {
    return false;
  }
  // An image's tool never reads the user's terminal or input.
  return nullDevice(0, O_RDONLY);
}

bool limit(int resource, rlim_t value) {
  rlimit current;
  if (::getrlimit(resource, &current) != 0) return false;
  // Never raised: a host that runs with a lower limit keeps it.
  rlimit wanted{std::min(current.rlim_cur, value), std::min(current.rlim_max, value)};
  return ::setrlimit(resource, &wanted) == 0;
}

bool limits(bool ownNamespaces) {
  if (!limit(RLIMIT_FSIZE, kFileSizeLimit) || !limit(RLIMIT_CORE, 0) ||
      !limit(RLIMIT_AS, kAddressSpaceLimit))
    return false;
  // Written while the child still has its powers in its own namespaces, before Landlock.
  if (ownNamespaces && writeFile("/proc/sys/kernel/pid_max", kPidMax, sizeof kPidMax - 1))
    return true;
  return limit(RLIMIT_NPROC, kProcessLimit);
}

// No capability survives the exec, the user's own root included: the bounding set is emptied
// (where the child may: without a user namespace an ordinary user has nothing to drop), then
// every set.
bool dropCapabilities() {
  for (int cap = 0; cap <= 63; ++cap) {
    if (::prctl(PR_CAPBSET_DROP, cap, 0, 0, 0) != 0 && errno == EINVAL) break;
  }
  ::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2]{};
  return ::syscall(SYS_capset, &header, data) == 0;
}

void defaultSignals() {
  for (int signal = 1; signal < NSIG; ++signal) {
    struct sigaction action {};
    if (::sigaction(signal, nullptr, &action) != 0) continue;
    if (signal == SIGPIPE || (action.sa_handler != SIG_IGN && action.sa_handler != SIG_DFL)) {
      action = {};
      action.sa_handler = SIG_DFL;
      ::sigaction(signal, &action, nullptr);
    }
  }
}

bool confine(ChildContext& context) {
  const Confinement& confinement = *context.confinement;
  // A session of its own: no controlling terminal, and a process group the runner can end.
  if (::setsid() < 0) return false;
  if (!standardStreams(*context.request) || !limits(context.ownNamespaces)) return false;
  if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return false;
  int ruleset = context.runRuleset >= 0 ? context.runRuleset : confinement.landlockRuleset;
  if (ruleset >= 0 && ::syscall(SYS_landlock_restrict_self, ruleset, 0) != 0) return false;
  // Only 0, 1 and 2 go on: nothing the host had open reaches the tool.
  if (::syscall(SYS_close_range, 3u, ~0u, 0u) != 0) return false;
  if (!dropCapabilities()) return false;
  defaultSignals();
  sock_fprog program{static_cast<unsigned short>(confinement.seccomp->size()),
                     const_cast<sock_filter*>(confinement.seccomp->data())};
  return ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program, 0, 0) == 0;
}

// The processes started on a stack of our own end by returning, which clone turns into the
// exit system call itself: AddressSanitizer takes a call to _exit there, off the stacks it
// knows, for a jump it can't follow, and says so on the tool's standard error.
int childMain(void* raw) {
  auto& context = *static_cast<ChildContext*>(raw);
  if (confine(context)) {
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::execve(context.request->program.c_str(), context.argv, context.envp);
  }
  context.result->error = errno != 0 ? errno : EPERM;
  return 127;
}

// Whether this kernel lets us make a user namespace: known after the first start.
std::atomic<bool> namespacesRefused{false};

void sayNoNamespacesOnce(int error) {
  static std::once_flag said;
  std::call_once(said, [error] {
    std::fprintf(
        stderr,
        "%s: this kernel refuses user namespaces (%s): the tools of machine images run without "
        "their own namespaces (no network, PID, IPC or UTS namespace of their own; what they "
        "start may outlive them; what a run writes is limited per file, not per run)\n",
        programName().c_str(), std::strerror(error));
  });
}

// Whether a run found that this kernel makes it no layer of its own: known after such a run.
std::atomic<bool> layersRefused{false};

void sayNoLayerOnce(int error) {
  layersRefused.store(true, std::memory_order_relaxed);
  static std::once_flag said;
  std::call_once(said, [error] {
    std::fprintf(stderr,
                 "%s: this kernel makes the tools of machine images no layer of their own over "
                 "their tmp/ (%s): what a run writes there is limited per file, not per run\n",
                 programName().c_str(), std::strerror(error));
  });
}

struct StackTraits {
  static void* invalid() noexcept { return MAP_FAILED; }
  static void free(void* stack) noexcept { ::munmap(stack, kStackMapping); }
};

void reap(pid_t pid) {
  base::retryAfterSignal([&] { return ::waitpid(pid, nullptr, 0); });
}

bool grant(int ruleset, int fd, std::uint64_t rights) {
  landlock_path_beneath_attr rule{};
  rule.allowed_access = rights;
  rule.parent_fd = fd;
  return ::syscall(SYS_landlock_add_rule, ruleset, LANDLOCK_RULE_PATH_BENEATH, &rule, 0) == 0;
}

// The sandbox's file rule again, with the layer's root granted: -1 when it can't be made.
int rulesetWithLayer(const FileRule& rule, int layerRoot) {
  int ruleset = static_cast<int>(
      ::syscall(SYS_landlock_create_ruleset, rule.attributes.data(), rule.attributesSize, 0));
  if (ruleset < 0) return -1;
  bool granted = grant(ruleset, layerRoot, rule.layerRights);
  for (const auto& [fd, rights] : rule.grants) granted = granted && grant(ruleset, fd, rights);
  if (granted) return ruleset;
  int error = errno;
  ::close(ruleset);
  errno = error;
  return -1;
}

// A descriptor of the calling process's mount namespace, or -1. Asked of its pidfd where the
// kernel answers (6.11): opening it through /proc would leave the process's /proc entries for
// the runner to clear from the dentry cache when it reaps the process.
int ownMountNamespace() {
  int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, ::getpid(), 0));
  if (pidfd >= 0) {
    int ns = ::ioctl(pidfd, kPidfdGetMountNamespace, 0);
    ::close(pidfd);
    if (ns >= 0) return ns;
  }
  return ::open("/proc/self/ns/mnt", O_RDONLY | O_CLOEXEC);
}

bool layOwnLayer(ChildContext& context) {
  const LayerTarget* target = context.confinement->layer;
  if (!target || context.layerSocket < 0) return true;
  LaidLayer laid;
  switch (layRunLayer(*target, laid)) {
    case LayerOutcome::Made: {
      // The namespace goes along with the layer where it can be opened; without it the tool's
      // end unmounts the layer, and the runner waits for that.
      int held[kMaxPassed] = {laid.tmpfsRoot, ownMountNamespace()};
      bool done = sendDescriptors(context.layerSocket, held, held[1] >= 0 ? 2 : 1);
      if (held[1] >= 0) ::close(held[1]);
      if (done && context.confinement->fileRule) {
        context.runRuleset = rulesetWithLayer(*context.confinement->fileRule, laid.overlayRoot);
        done = context.runRuleset >= 0;
      }
      ::close(laid.tmpfsRoot);
      ::close(laid.overlayRoot);
      return done;
    }
    case LayerOutcome::Refused:
      context.result->layerError = errno != 0 ? errno : EPERM;
      return true;
    case LayerOutcome::Moved:
      break;
  }
  return false;
}

// Runs between the runner and the program: joins the kept namespaces, makes the fresh ones, and
// starts the program as the first process of its own PID namespace, which only a process that
// made the namespace can do. The program becomes the runner's child (CLONE_PARENT), and this
// process ends as soon as the program has been executed.
int joinerMain(void* raw) {
  auto& context = *static_cast<ChildContext*>(raw);
  const KeptNamespaces& kept = *context.confinement->kept;
  if (::setns(kept.user.get(), CLONE_NEWUSER) == 0 && ::setns(kept.net.get(), CLONE_NEWNET) == 0 &&
      ::unshare(kFreshNamespaces) == 0 && layOwnLayer(context)) {
    pid_t pid = ::clone(childMain, context.programStackTop,
                        kSharedMemory | CLONE_VFORK | CLONE_PARENT | SIGCHLD, &context);
    if (pid >= 0) {
      context.result->started = pid;
      // An ended run's layer, left open: this process's end lets go of it, after the runner has
      // been released (at the release of this process's memory) and while the tool starts.
      if (context.confinement->layersToLetGo >= 0 && context.layerSocket >= 0) {
        int layer[kMaxPassed];
        receiveDescriptors(context.confinement->layersToLetGo, layer);
      }
      return 0;
    }
  }
  context.result->error = errno != 0 ? errno : EPERM;
  return 127;
}

bool isRefusal(int error) {
  return error == EPERM || error == EINVAL || error == ENOSPC || error == EUSERS || error == EACCES;
}

// Runs `main` in a child started with `flags` and vfork semantics, every signal of the parent
// blocked meanwhile: no handler of the parent may run in the child, on its borrowed stack and
// memory.
pid_t cloneBlocked(int (*main)(void*), void* stackTop, int flags, void* argument) {
  sigset_t all, previous;
  sigfillset(&all);
  ::pthread_sigmask(SIG_SETMASK, &all, &previous);
  pid_t pid = ::clone(main, stackTop, kSharedMemory | CLONE_VFORK | SIGCHLD | flags, argument);
  int error = errno;
  ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  errno = error;
  return pid;
}

}  // namespace

bool ownNamespacesRefused() { return namespacesRefused.load(std::memory_order_relaxed); }

bool runWritesBoundedPerFileOnly() {
  return ownNamespacesRefused() || layersRefused.load(std::memory_order_relaxed);
}

// The kept namespaces are made once per process, by a forked child that unshares them and
// stays until the parent has opened them through /proc: a fork's cost doesn't matter once, and
// valgrind (which the tool is checked under) runs a fork but refuses a clone that makes
// namespaces.
std::optional<KeptNamespaces> makeKeptNamespaces() {
  if (ownNamespacesRefused()) return KeptNamespaces{};
  int ready[2], done[2];
  if (::pipe2(ready, O_CLOEXEC) != 0) return std::nullopt;
  base::UniqueFd readyRead(ready[0]), readyWrite(ready[1]);
  if (::pipe2(done, O_CLOEXEC) != 0) return std::nullopt;
  base::UniqueFd doneRead(done[0]), doneWrite(done[1]);
  uid_t uid = ::geteuid();
  gid_t gid = ::getegid();
  pid_t pid = ::fork();
  if (pid == 0) {
    // Only system calls from here: the parent may have other threads. The pipes' other ends
    // are the parent's alone, so that its end of `done` closing ends the wait below.
    ::close(ready[0]);
    ::close(done[1]);
    int outcome[2] = {0, 0};  // errno, and whether the ids could not be mapped
    if (::unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) {
      outcome[0] = errno;
    } else if (!mapIds(uid, gid)) {
      outcome[0] = errno != 0 ? errno : EPERM;
      outcome[1] = 1;
    }
    if (::write(ready[1], outcome, sizeof outcome) == sizeof outcome && outcome[0] == 0) {
      char byte;
      while (::read(done[0], &byte, 1) < 0 && errno == EINTR) {
      }
    }
    ::_exit(0);
  }
  if (pid < 0) return std::nullopt;
  readyWrite.reset();
  int outcome[2] = {0, 0};
  ssize_t n =
      base::retryAfterSignal([&] { return ::read(readyRead.get(), outcome, sizeof outcome); });
  KeptNamespaces kept;
  if (n == sizeof outcome && outcome[0] == 0) {
    std::string ns = "/proc/" + std::to_string(pid) + "/ns/";
    kept.user = base::UniqueFd(::open((ns + "user").c_str(), O_RDONLY | O_CLOEXEC));
    kept.net = base::UniqueFd(::open((ns + "net").c_str(), O_RDONLY | O_CLOEXEC));
  }
  doneWrite.reset();
  reap(pid);
  if (kept) return kept;
  if (n != sizeof outcome || outcome[0] == 0) return std::nullopt;
  // Some kernels make the namespaces and then refuse the id maps (a security module's rule on
  // unprivileged user namespaces): that counts as a refusal too.
  if (outcome[1] == 0 && !isRefusal(outcome[0])) return std::nullopt;
  namespacesRefused.store(true, std::memory_order_relaxed);
  sayNoNamespacesOnce(outcome[0]);
  return KeptNamespaces{};
}

KeptStack::~KeptStack() {
  if (mapping_) ::munmap(mapping_, kStackMapping);
}

ConfinedChild startConfined(const SpawnRequest& request, const Confinement& confinement) {
  if (!confinement.seccomp || confinement.seccomp->empty()) return {};
  std::vector<char*> argv = argumentVector(request);
  if (argv.empty()) return {};
  char* emptyEnvironment[] = {nullptr};
  bool joins = confinement.kept && *confinement.kept;
  // Two stacks, the joining process's above the program's; the result lies at the bottom of
  // the mapping, below the program's stack, which grows down towards it: a shared mapping, so
  // the parent reads it whether or not the children share all its memory. Both children are
  // done with it once this returns (executed or ended), so the next start may take it again.
  std::unique_lock<std::mutex> kept;
  if (kKeepStack && confinement.stack)
    kept = std::unique_lock(confinement.stack->inUse_, std::try_to_lock);
  base::ScopedGeneric<void*, StackTraits> own;
  char* base = kept ? static_cast<char*>(confinement.stack->mapping_) : nullptr;
  if (!base) {
    own.reset(::mmap(nullptr, kStackMapping, PROT_READ | PROT_WRITE,
                     MAP_SHARED | MAP_ANONYMOUS | MAP_STACK, -1, 0));
    if (!own) return {};
    base = static_cast<char*>(own.get());
    if (kept) confinement.stack->mapping_ = own.release();
  }
  // The run's layer comes back over a socket (without namespaces of its own it has none): the
  // kept one while this start holds the kept stack, as no other start can then read it; one of
  // its own otherwise.
  base::UniqueFd layerSend, layerReceive;
  int layerSocket[2] = {-1, -1};  // receiving, sending
  if (joins && confinement.layer) {
    if (kept && confinement.stack->layerReceive_) {
      layerSocket[0] = confinement.stack->layerReceive_.get();
      layerSocket[1] = confinement.stack->layerSend_.get();
    } else {
      int ends[2];
      if (::socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, ends) != 0) return {};
      layerReceive.reset(ends[0]);
      layerSend.reset(ends[1]);
      layerSocket[0] = ends[0];
      layerSocket[1] = ends[1];
      if (kept) {
        confinement.stack->layerReceive_ = std::move(layerReceive);
        confinement.stack->layerSend_ = std::move(layerSend);
      }
    }
  }
  ChildContext context{&request,
                       &confinement,
                       argv.data(),
                       request.environment == Environment::Host ? environ : emptyEnvironment,
                       joins,
                       base + kChildStackSize,
                       new (base) ChildResult{0, -1, 0},
                       layerSocket[1],
                       -1};
  pid_t pid = cloneBlocked(joins ? joinerMain : childMain, base + kStackMapping, 0, &context);
  if (pid < 0) return {};
  ConfinedChild started;
  if (joins) {
    // The joining process is done with our memory (it has ended or is ending): the program, if
    // it started, is ours.
    ChildProcess joiner(pid);
    pid = context.result->started;
    // Taken whether or not the program started: nothing may wait there for the next start.
    int layer[kMaxPassed] = {-1, -1};
    if (layerSocket[0] >= 0) receiveDescriptors(layerSocket[0], layer);
    started.layer.reset(layer[0]);
    started.layerNamespace.reset(layer[1]);
    if (pid < 0) {
      waitForExit(std::move(joiner));
      errno = context.result->error;
      return {};
    }
    if (context.result->layerError != 0) sayNoLayerOnce(context.result->layerError);
    // Reaped once the run has ended, by when it has long let go of what it held; at once when
    // the run has no layer to hold it until then.
    if (started.layer) {
      started.joiner = std::move(joiner);
    } else {
      waitForExit(std::move(joiner));
    }
  }
  if (context.result->error != 0) {
    reap(pid);
    errno = context.result->error;
    return {};
  }
  started.process = ChildProcess(pid);
  return started;
}

}  // namespace strandel::platform::live
