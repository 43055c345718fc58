// Mount-table lookups, read afresh through the machine on every call.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace strandel::system {

/// The mounted-from name of the first mount whose mount point equals `mountPoint` exactly; ""
/// when none does or the table can't be read.
std::string mountFromName(std::optional<std::string_view> mountPoint);

/// The mount point of the first mount whose mounted-from name begins with the device path of
/// `device` or contains its BSD name; "" when none does, `device` is absent or the table can't
/// be read.
std::string mountOnName(std::optional<std::string_view> device);

}  // namespace strandel::system
