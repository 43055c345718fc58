// Starting a child in the sandbox: its own namespaces, limits, Landlock and the system-call
// filter, taken on between clone and exec.
#pragma once

#include <linux/filter.h>

#include <vector>

#include "platform/posix/Spawn.hpp"

namespace strandel::platform::live {

struct Confinement {
  int landlockRuleset = -1;                    // -1: the kernel has no Landlock
  const std::vector<sock_filter>* seccomp{};   // the filter's program, never empty
};

/// Starts the request's program confined, its standard input the null device whatever the
/// request says. The child shares the parent's memory until it executes the program (vfork
/// semantics: no copy of a large parent's page tables). Without user namespaces (the kernel
/// refuses them, said once on stderr) it starts with everything else.
ChildProcess startConfined(const SpawnRequest& request, const Confinement& confinement);

/// True once a start found that this kernel refuses user namespaces.
bool ownNamespacesRefused();

}  // namespace strandel::platform::live
