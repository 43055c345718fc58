// Runs a check in a forked child that has a private mount namespace of its own, so the check
// may mount and unmount freely without touching the host. Where namespaces are not allowed
// (no CAP_SYS_ADMIN, a restricted container) the test is skipped, with why.
#pragma once

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <string>

namespace strandel::testing {

/// `check` gives "" when it passed, "skip: why" when it could not run, else the failure.
/// Call it last in a test: a skip ends only this function.
inline void expectInPrivateMountNamespace(const std::function<std::string()>& check) {
  int fds[2];
  ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    std::string result;
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
      result = std::string("skip: no private mount namespace: ") + std::strerror(errno);
    } else {
      try {
        result = check();
      } catch (...) {
        result = "the check threw";
      }
    }
    if (result.empty()) result = "passed";
    (void)!::write(fds[1], result.data(), result.size());
    ::_exit(0);
  }
  ::close(fds[1]);
  std::string message;
  char buffer[4096];
  for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;) message.append(buffer, static_cast<std::size_t>(n));
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (message.starts_with("skip: ")) GTEST_SKIP() << message.substr(6);
  EXPECT_EQ(message, "passed") << "child status " << status;
}

}  // namespace strandel::testing
