// The verify runner as the tool uses it: the library's verify, and how the disk utility ended.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include <strandel/StrandelFramework.hpp>

namespace strandel::framework {

/// Does what `object.runWith(request, reply)` does, and gives how the disk utility ended, as
/// its shell gives it (`$?`; 137 for one ended at its time limit); kNoExitStatus when it could
/// not be started, its output went over the cap, or the request names no volume. A plain int
/// rather than an optional: valgrind, which the tool is checked under, takes gcc's reading of
/// an empty optional's payload for a use of an uninitialised value.
inline constexpr int kNoExitStatus = -1;
int verifyVolume(StrandelFramework& object, const PlistDict& request,
                 const std::function<void(std::string&)>& reply);

}  // namespace strandel::framework
