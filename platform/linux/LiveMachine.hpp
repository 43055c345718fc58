// The live host: the Linux (POSIX) machine the library runs on.
#pragma once

#include <memory>
#include <string>

#include "platform/Machine.hpp"
#include "platform/linux/Sandbox.hpp"

namespace strandel::platform::live {

/// The live host machine: its disks in the Mac's shape and names, read at the first question.
std::shared_ptr<Machine> makeLiveMachine();

/// The live host with the disk image file (or block device) at `path` as its only disk, read
/// and never written. Check the path first with `diskImageProblem`.
std::shared_ptr<Machine> makeDiskImageMachine(const std::string& path);

struct ProcessOptions {
  /// The most bytes of one tool's output read into memory; tests make it small.
  std::size_t outputCap = kMaxToolOutputBytes;
  /// The confinement of every process started; null for the host's own tools.
  std::shared_ptr<const Sandbox> sandbox{};
};

/// Tool runs and shell runs of real processes on this host (the image backend uses it too,
/// after mapping the tool's path into its root folder, with its sandbox).
std::unique_ptr<Processes> makeHostProcesses(ProcessOptions options = {});

}  // namespace strandel::platform::live
