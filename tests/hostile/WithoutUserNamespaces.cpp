// Runs a program as a kernel or container that refuses user namespaces would: clone and unshare
// asking for one fail with EPERM, and clone3 (whose flags a filter can't read) with ENOSYS, so
// that the C library falls back to clone. The filter holds for everything the program starts.
#include <sched.h>
#include <seccomp.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs("usage: strandel_without_userns PROGRAM [ARGUMENT...]\n", stderr);
    return 2;
  }
  scmp_filter_ctx filter = seccomp_init(SCMP_ACT_ALLOW);
  if (!filter) return 2;
  // The first argument of both holds the flags; written out, as the header's macro is a C
  // compound literal.
  const scmp_arg_cmp asksForUserNamespace{0, SCMP_CMP_MASKED_EQ, CLONE_NEWUSER, CLONE_NEWUSER};
  bool built = seccomp_rule_add(filter, SCMP_ACT_ERRNO(EPERM), SCMP_SYS(clone), 1, asksForUserNamespace) == 0 &&
               seccomp_rule_add(filter, SCMP_ACT_ERRNO(EPERM), SCMP_SYS(unshare), 1, asksForUserNamespace) == 0 &&
               seccomp_rule_add(filter, SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(clone3), 0) == 0;
  bool loaded = built && seccomp_load(filter) == 0;
  seccomp_release(filter);
  if (!loaded) {
    std::fputs("strandel_without_userns: the filter could not be loaded\n", stderr);
    return 2;
  }
  ::execv(argv[1], argv + 1);
  std::perror(argv[1]);
  return 127;
}
