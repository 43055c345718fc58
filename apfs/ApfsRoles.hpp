// The volumes of an APFS container by role, from the disk utility's listing.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace strandel::apfs {

/// The BSD name of the first volume whose first role is `role` in the container that `device`
/// (container or volume, BSD name or device path) belongs to. Nothing when none is found or the
/// listing can't be read.
std::optional<std::string> roleVolume(std::string_view device, std::string_view role);

/// The first role name of the volume whose "DeviceIdentifier" is exactly `bsdName`. Nothing for
/// any other name, no role, no such volume or no listing.
std::optional<std::string> firstRoleOfVolume(std::string_view bsdName);

}  // namespace strandel::apfs
