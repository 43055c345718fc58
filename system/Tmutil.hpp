// The Time Machine tool query.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <strandel/PlistValue.hpp>

namespace strandel::system {

/// Runs the Time Machine tool with `arguments` unchanged and reads its output as a property
/// list; nothing when it is not one or the tool can't be started.
std::optional<PlistValue> runTmutil(const std::vector<std::string>& arguments);

}  // namespace strandel::system
