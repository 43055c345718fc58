// Tool runs and shell runs of real processes on this host.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>

#include "platform/Machine.hpp"
#include "platform/posix/Sandbox.hpp"

namespace strandel::platform::live {

struct ProcessOptions {
  /// The most bytes of one tool's output read into memory; tests make it small.
  std::size_t outputCap = kMaxToolOutputBytes;
  /// The confinement of every process started; null for the host's own tools.
  std::shared_ptr<const Sandbox> sandbox{};
  /// How long a sandboxed run may take before the tool and all it started are ended (its
  /// output then counts as none); zero: no limit. The host's own tools have none.
  std::chrono::milliseconds timeLimit{0};
};

/// Tool runs and shell runs of real processes on this host (the image backend uses it too,
/// after mapping the tool's path into its root folder, with its sandbox).
std::unique_ptr<Processes> makeHostProcesses(ProcessOptions options = {});

}  // namespace strandel::platform::live
