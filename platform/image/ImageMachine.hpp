// The machine-image backend: a folder that records one Mac.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/Machine.hpp"

namespace strandel::platform::image {

struct LoadResult {
  std::shared_ptr<Machine> machine;  // null when the image can't be used
  std::string error;                 // then one line naming the file and the place inside it
};

/// Loads the machine image in the folder `dir`.
LoadResult loadMachine(std::string_view dir);

}  // namespace strandel::platform::image
