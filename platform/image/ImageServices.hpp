// The services of an image machine, each answering from the checked machine.plist and the
// image's root folder. Only the image loader puts them together.
#pragma once

#include <memory>
#include <string>

#include "machineimage/MachinePlist.hpp"
#include "platform/Machine.hpp"
#include "platform/image/RootPaths.hpp"

namespace strandel::platform::image {

/// The mount table of machine.plist; `statfs` looks for the path under `root`.
std::unique_ptr<MountTable> makeImageMountTable(
    std::shared_ptr<const machineimage::MachinePlist> plist, std::shared_ptr<const ImageRoot> root);

/// Files under `root`, and the user name of machine.plist (else the host's).
std::unique_ptr<Files> makeImageFiles(std::shared_ptr<const machineimage::MachinePlist> plist,
                                      std::shared_ptr<const ImageRoot> root);

/// Runs the tools found under `root` through the host's processes. `host` may be null (no
/// process support on this host): then no tool can be started.
std::unique_ptr<Processes> makeImageProcesses(std::unique_ptr<Processes> host,
                                              std::shared_ptr<const ImageRoot> root);

}  // namespace strandel::platform::image
