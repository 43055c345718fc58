// The members of an APFS container: the group that every APFS volume record carries.
#pragma once

#include <string_view>

#include <strandel/PlistValue.hpp>

#include "platform/Machine.hpp"

namespace strandel {

/// The group of the whole disk that `bsdName` belongs to (its container, for an APFS volume):
/// `containsBoot`, whether any object below it is mounted at "/", and `volumes`, one member per
/// object below it that has a disk description, in registry order, less those whose name the
/// exclusion list drops once it is in force. Members hold `bsd`, `name`, `kind`, `volpath` and
/// `isMounted` (the integer 1 or 0). A name that matches no media object gives
/// `containsBoot` false and no volumes.
PlistDict containerGroup(platform::Registry& registry, std::string_view bsdName);

}  // namespace strandel
