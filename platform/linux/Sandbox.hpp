// The sandbox of an image's tools on Linux (docs/sandbox.md): namespaces of their own, no
// capabilities, a session of their own, only descriptors 0-2, limits, Landlock as the file rule
// and a seccomp filter, all taken on between clone and exec.
#pragma once

#include <memory>
#include <vector>

#include "platform/posix/Sandbox.hpp"

namespace strandel::platform::live {

/// A sandbox whose processes may read and run what is beneath the given paths and the host's
/// program and library folders (/usr, /bin, /lib*, the dynamic linker's files, /dev/null and
/// the random devices), write only beneath the ReadWrite paths, and, where the kernel can
/// enforce it (Landlock ABI 4), open no TCP connection and accept none; from ABI 6 they can't
/// signal or reach the abstract sockets of processes outside. On a kernel without Landlock
/// (said once per process on stderr) that file rule is missing; without user namespaces (also
/// said once) the namespaces are; the rest holds.
std::shared_ptr<const Sandbox> makeSandbox(std::vector<SandboxPath> paths);

/// The Landlock ABI version of the running kernel; 0 when it has none (or it is turned off).
int landlockAbi();

}  // namespace strandel::platform::live
