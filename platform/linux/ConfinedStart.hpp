// Starting a child in the sandbox: its own namespaces, limits, Landlock and the system-call
// filter, taken on between clone and exec.
#pragma once

#include <linux/filter.h>

#include <array>
#include <cstdint>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "platform/linux/RunLayer.hpp"
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
struct ConfinedChild;

/// The mapping the children of a start run on, made at the first start and kept for the next:
/// one mapped and unmapped for every start costs its page faults and, when unmapped, a flush of
/// the address translations of every thread. A start that finds it in use by another thread's
/// start maps one of its own. The socket a run's layer comes back on is kept with it.
class KeptStack {
 public:
  KeptStack() = default;
  KeptStack(const KeptStack&) = delete;
  KeptStack& operator=(const KeptStack&) = delete;
  ~KeptStack();

 private:
  friend ConfinedChild startConfined(const SpawnRequest&, const Confinement&);
  std::mutex inUse_;
  void* mapping_ = nullptr;
  base::UniqueFd layerReceive_, layerSend_;
};

/// The file rule (Landlock) as the sandbox built it, to be built again for each run that has a
/// layer: Landlock passes over a rule on a folder that a mount covers, so such a run's ruleset
/// grants the layer's own root what the covered folder was granted.
struct FileRule {
  std::array<std::uint64_t, 3> attributes{};  // struct landlock_ruleset_attr, as the kernel's ABI
  std::size_t attributesSize = 0;             // grew it: the fields meant
  std::vector<std::pair<int, std::uint64_t>> grants;  // a descriptor the sandbox holds, its rights
  std::uint64_t layerRights = 0;
};

struct Confinement {
  int landlockRuleset = -1;                   // -1: the kernel has no Landlock
  const FileRule* fileRule{};                 // null: the kernel has no Landlock
  const std::vector<sock_filter>* seccomp{};  // the filter's program, never empty
  const KeptNamespaces* kept{};               // null or empty: no namespaces of their own
  KeptStack* stack{};                         // null: a mapping of its own for each start
  const LayerTarget* layer{};  // null: runs write the folders they may write directly
  // Where the layers of ended runs wait to be let go of (PassDescriptor.hpp); -1: nowhere.
  // Letting go of a run's mount namespace and layer unmounts them, and the kernel then waits
  // for every CPU to pass a quiescent point, twice: the next start's joining process takes one
  // waiting layer and lets go of it as it ends, after the runner has gone on.
  int layersToLetGo = -1;
};

struct ConfinedChild {
  ChildProcess process;
  base::UniqueFd layer;  // the root of the run's layer (RunLayer.hpp); invalid: it has none
  // The run's mount namespace, held so that the tool's end does not unmount it (which the
  // runner would wait for); invalid when it could not be opened.
  base::UniqueFd layerNamespace;
  // The process that joined the namespaces, when the run has a layer: it may still be ending
  // (letting go of an earlier run's layer) and is reaped once the run has ended.
  ChildProcess joiner;
};

/// Starts the request's program confined, its standard input the null device whatever the
/// request says. The child shares the parent's memory until it executes the program (vfork
/// semantics: no copy of a large parent's page tables). Without kept namespaces (the kernel
/// refuses them) it starts with everything else, and without a layer. A process that can't be
/// started, or whose layer's folder is no longer where the sandbox found it, is an invalid value.
ConfinedChild startConfined(const SpawnRequest& request, const Confinement& confinement);

/// True once a start found that this kernel refuses user namespaces.
bool ownNamespacesRefused();

/// True once a start found that its run's writes could not be given a layer of their own (no
/// user namespaces, or no tmpfs or overlay in them): the folder is then bounded per file only.
bool runWritesBoundedPerFileOnly();

}  // namespace strandel::platform::live
