// Starting a child in the sandbox: its own namespaces, limits, Landlock and the system-call
// filter, taken on between clone and exec.
#pragma once

#include <linux/filter.h>

#include <optional>
#include <vector>

#include "platform/posix/Spawn.hpp"

namespace strandel::platform::live {

/// The user namespace (the caller's ids mapped to themselves) and the network namespace (only
/// a loopback that is down) that every start joins. Made once: a network namespace is the
/// dearest of all to make, and one a tool can't reach (no socket of any kind may be opened)
/// shares nothing worth keeping apart between runs. The other namespaces are fresh each start.
struct KeptNamespaces {
  base::UniqueFd user, net;
  explicit operator bool() const { return user && net; }
};

/// Makes the kept namespaces. Empty when this kernel refuses user namespaces (then said once
/// on stderr, and ownNamespacesRefused() is true); nothing when they could not be made for
/// another reason (no memory, no descriptors), and then nothing should start.
std::optional<KeptNamespaces> makeKeptNamespaces();

struct Confinement {
  int landlockRuleset = -1;                   // -1: the kernel has no Landlock
  const std::vector<sock_filter>* seccomp{};  // the filter's program, never empty
  const KeptNamespaces* kept{};               // null or empty: no namespaces of their own
};

/// Starts the request's program confined, its standard input the null device whatever the
/// request says. The child shares the parent's memory until it executes the program (vfork
/// semantics: no copy of a large parent's page tables). Without kept namespaces (the kernel
/// refuses them) it starts with everything else.
ChildProcess startConfined(const SpawnRequest& request, const Confinement& confinement);

/// True once a start found that this kernel refuses user namespaces.
bool ownNamespacesRefused();

}  // namespace strandel::platform::live
