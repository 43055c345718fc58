// The registry service over a checked registry tree, shared by the image backend and the live
// Linux backend (which builds its tree in the same form).
#pragma once

#include <memory>

#include "machineimage/MachinePlist.hpp"

namespace strandel::machineimage {

/// The registry of `plist`'s tree. Registry objects are numbered from 1 in registry order;
/// descriptions are shared with `plist`, never copied.
std::unique_ptr<platform::Registry> makeNodeRegistry(std::shared_ptr<const MachinePlist> plist);

}  // namespace strandel::machineimage
