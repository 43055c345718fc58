// The machine-image backend: a folder that records one Mac.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "machineimage/MachinePlist.hpp"
#include "platform/Machine.hpp"
#include "platform/posix/Sandbox.hpp"

namespace strandel::platform::image {

struct LoadResult {
  std::shared_ptr<Machine> machine;  // null when the image can't be used
  std::string error;                 // then one line naming the file and the place inside it
};

/// Loads the machine image in the folder `dir`: reads DIR/machine.plist (XML or binary),
/// checks all of it and needs DIR/root/. On failure the error line starts with the path of
/// the file at fault as `dir` spells it ("img/machine.plist: Registry[0].Class: missing",
/// "img/root/: missing"). The image's tools run in sandboxes made by `makeSandbox`: the
/// backend knows which folders they may reach, not how the host confines them.
LoadResult loadMachine(std::string_view dir, const live::SandboxMaker& makeSandbox);

}  // namespace strandel::platform::image
