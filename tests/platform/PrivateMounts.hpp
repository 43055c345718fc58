// Runs a check in a forked child that has a private mount namespace of its own, so the check
// may mount and unmount freely without touching the host. Where namespaces are not allowed
// (no CAP_SYS_ADMIN, a restricted container) the check is reported as skipped, with why.
#pragma once

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

struct ChildOutcome {
  enum class Status { Passed, Failed, Skipped } status = Status::Failed;
  std::string message;
};

/// What `check` gives: "" when it passed, "skip: why" when it could not run, else the failure.
inline ChildOutcome inPrivateMountNamespace(const std::function<std::string()>& check) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return {ChildOutcome::Status::Failed, "pipe2 failed"};
  pid_t pid = ::fork();
  if (pid < 0) return {ChildOutcome::Status::Failed, "fork failed"};
  if (pid == 0) {
    ::close(fds[0]);
    auto finish = [&](const std::string& message) {
      (void)!::write(fds[1], message.data(), message.size());
      ::_exit(0);
    };
    if (::unshare(CLONE_NEWNS) != 0) finish(std::string("skip: unshare(CLONE_NEWNS): ") + std::strerror(errno));
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
      finish(std::string("skip: mount --make-rprivate /: ") + std::strerror(errno));
    }
    std::string result;
    try {
      result = check();
    } catch (...) {
      result = "the check threw";
    }
    finish(result.empty() ? "passed" : result);
  }
  ::close(fds[1]);
  std::string message;
  char buffer[4096];
  for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) != 0;) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    message.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fds[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (message == "passed") return {ChildOutcome::Status::Passed, ""};
  if (message.starts_with("skip: ")) return {ChildOutcome::Status::Skipped, message.substr(6)};
  if (message.empty()) return {ChildOutcome::Status::Failed, "the child ended without a word, status " + std::to_string(status)};
  return {ChildOutcome::Status::Failed, message};
}

}  // namespace strandel::testing
