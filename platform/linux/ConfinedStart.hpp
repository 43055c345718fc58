// Starting a child in the sandbox: its own namespaces, limits, Landlock and the system-call
// filter, taken on between clone and exec.
#pragma once

#include <linux/filter.h>

#include <mutex>
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

struct Confinement;

/// The mapping the children of a start run on, made at the first start and kept for the next:
/// one mapped and unmapped for every start costs its page faults and, when unmapped, a flush of
/// the address translations of every thread. A start that finds it in use by another thread's
/// start maps one of its own.
class KeptStack {
 public:
  KeptStack() = default;
  KeptStack(const KeptStack&) = delete;
  KeptStack& operator=(const KeptStack&) = delete;
  ~KeptStack();

 private:
  friend ChildProcess startConfined(const SpawnRequest&, const Confinement&);
  std::mutex inUse_;
  void* mapping_ = nullptr;
};

struct Confinement {
  int landlockRuleset = -1;                   // -1: the kernel has no Landlock
  const std::vector<sock_filter>* seccomp{};  // the filter's program, never empty
  const KeptNamespaces* kept{};               // null or empty: no namespaces of their own
  KeptStack* stack{};                         // null: a mapping of its own for each start
};

/// Starts the request's program confined, its standard input the null device whatever the
/// request says. The child shares the parent's memory until it executes the program (vfork
/// semantics: no copy of a large parent's page tables). Without kept namespaces (the kernel
/// refuses them) it starts with everything else.
ChildProcess startConfined(const SpawnRequest& request, const Confinement& confinement);

/// True once a start found that this kernel refuses user namespaces.
bool ownNamespacesRefused();

}  // namespace strandel::platform::live
