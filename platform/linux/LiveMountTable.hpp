// The kernel mount table of the live Linux host, read through libmount.
#pragma once

#include <memory>
#include <string>

#include "platform/Machine.hpp"

namespace strandel::platform::live {

/// The kernel mount table of this process (libmount) and statfs figures.
std::unique_ptr<MountTable> makeLiveMountTable();

/// The same, its entries read from the mountinfo-format file at `mountInfoPath` instead of
/// /proc/self/mountinfo (benchmarks and tests of large or awkward tables).
std::unique_ptr<MountTable> makeLiveMountTable(std::string mountInfoPath);

}  // namespace strandel::platform::live
