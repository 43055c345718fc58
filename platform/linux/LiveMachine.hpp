// The live host: the Linux (POSIX) machine the library runs on.
#pragma once

#include <memory>
#include <string>

#include "platform/Machine.hpp"

namespace strandel::platform::live {

/// The live host machine: its disks in the Mac's shape and names, read at the first question.
std::shared_ptr<Machine> makeLiveMachine();

/// The live host with the disk image file (or block device) at `path` as its only disk, read
/// and never written. Check the path first with `diskImageProblem`.
std::shared_ptr<Machine> makeDiskImageMachine(const std::string& path);

}  // namespace strandel::platform::live
