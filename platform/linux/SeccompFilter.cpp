#include "platform/linux/SeccompFilter.hpp"

#include <fcntl.h>
#include <linux/sched.h>
#include <sched.h>
#include <seccomp.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "base/Handles.hpp"

namespace strandel::platform::live {
namespace {

struct FilterTraits {
  static scmp_filter_ctx invalid() noexcept { return nullptr; }
  static void free(scmp_filter_ctx ctx) noexcept { seccomp_release(ctx); }
};
using Filter = base::ScopedGeneric<scmp_filter_ctx, FilterTraits>;

// By name, so that a call this libseccomp or architecture does not know is left out rather
// than failing the whole filter.
constexpr const char* kRefused[] = {
    "keyctl",
    "add_key",
    "request_key",
    "ptrace",
    "perf_event_open",
    "bpf",
    "userfaultfd",
    "io_uring_setup",
    "io_uring_enter",
    "io_uring_register",
    "syslog",
    "mount",
    "umount",
    "umount2",
    "pivot_root",
    "chroot",
    "move_mount",
    "open_tree",
    "fsopen",
    "fsmount",
    "fsconfig",
    "fspick",
    "mount_setattr",
    "unshare",
    "setns",
    "kexec_load",
    "kexec_file_load",
    "init_module",
    "finit_module",
    "delete_module",
    "socket",
    "process_vm_readv",
    "process_vm_writev",
    "name_to_handle_at",
    "open_by_handle_at",
    "personality",
    "uselib",
    "acct",
    "swapon",
    "swapoff",
    "quotactl",
    "lookup_dcookie",
    // SysV IPC: the IPC namespace hides the host's, and where there is none this does.
    "shmget",
    "shmat",
    "shmctl",
    "msgget",
    "msgsnd",
    "msgrcv",
    "msgctl",
    "semget",
    "semop",
    "semtimedop",
    "semctl",
};

constexpr unsigned long kNamespaceFlags = CLONE_NEWNS | CLONE_NEWUSER | CLONE_NEWPID |
                                          CLONE_NEWNET | CLONE_NEWIPC | CLONE_NEWUTS |
                                          CLONE_NEWCGROUP;

// libseccomp's SCMP_A* macros are C compound literals, which C++ does not have.
scmp_arg_cmp argument(unsigned index, scmp_compare op, scmp_datum_t a, scmp_datum_t b = 0) {
  return scmp_arg_cmp{index, op, a, b};
}

bool addRules(scmp_filter_ctx ctx) {
  const std::uint32_t refuse = SCMP_ACT_ERRNO(EPERM);
  for (const char* name : kRefused) {
    int number = seccomp_syscall_resolve_name(name);
    if (number == __NR_SCMP_ERROR) continue;
    if (seccomp_rule_add(ctx, refuse, number, 0) != 0) return false;
  }
  // An ioctl's request is 32 bits wide, whatever the upper half of the register holds.
  for (unsigned long request :
       {static_cast<unsigned long>(TIOCSTI), static_cast<unsigned long>(TIOCLINUX)}) {
    if (seccomp_rule_add(ctx, refuse, SCMP_SYS(ioctl), 1,
                         argument(1, SCMP_CMP_MASKED_EQ, 0xFFFFFFFFu, request)) != 0)
      return false;
  }
  for (unsigned long flag = 1; flag != 0; flag <<= 1) {
    if ((kNamespaceFlags & flag) == 0) continue;
    if (seccomp_rule_add(ctx, refuse, SCMP_SYS(clone), 1,
                         argument(0, SCMP_CMP_MASKED_EQ, flag, flag)) != 0)
      return false;
  }
  // A tool may lower its own priority, not anyone else's (0 names the caller itself).
  if (seccomp_rule_add(ctx, refuse, SCMP_SYS(setpriority), 1, argument(1, SCMP_CMP_NE, 0)) != 0)
    return false;
  int clone3 = seccomp_syscall_resolve_name("clone3");
  return clone3 == __NR_SCMP_ERROR || seccomp_rule_add(ctx, SCMP_ACT_ERRNO(ENOSYS), clone3, 0) == 0;
}

}  // namespace

std::vector<sock_filter> buildSeccompFilter() {
  Filter ctx(seccomp_init(SCMP_ACT_ALLOW));
  if (!ctx) return {};
  // Sorted into a binary tree of call numbers rather than a list: the kernel, when it takes the
  // filter, works out for every call number whether the filter always allows it, and walking a
  // list for each is about a quarter of what loading the filter costs every tool run. A
  // libseccomp that can't sort leaves the list, which means the same.
  seccomp_attr_set(ctx.get(), SCMP_FLTATR_CTL_OPTIMIZE, 2);
  if (!addRules(ctx.get())) return {};
  // A call of another architecture's numbering (the 32-bit entry points) ends the process:
  // the rules above speak the native numbers only.
  if (seccomp_attr_set(ctx.get(), SCMP_FLTATR_ACT_BADARCH, SCMP_ACT_KILL_PROCESS) != 0) return {};
  // libseccomp of Debian 12 exports only to a descriptor: a memory file, read back whole.
  base::UniqueFd memory(::memfd_create("strandel-seccomp", MFD_CLOEXEC));
  if (!memory || seccomp_export_bpf(ctx.get(), memory.get()) != 0) return {};
  struct stat info;
  if (::fstat(memory.get(), &info) != 0 || info.st_size <= 0 ||
      info.st_size % sizeof(sock_filter) != 0)
    return {};
  std::vector<sock_filter> program(static_cast<std::size_t>(info.st_size) / sizeof(sock_filter));
  std::size_t size = static_cast<std::size_t>(info.st_size);
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = base::retryAfterSignal([&] {
      return ::pread(memory.get(), reinterpret_cast<char*>(program.data()) + done, size - done,
                     done);
    });
    if (n <= 0) return {};
    done += static_cast<std::size_t>(n);
  }
  return program;
}

}  // namespace strandel::platform::live
