// The APFS container of a device and whether a mount is APFS, from the disk utility's listing
// and the mount table.
#pragma once

#include <optional>
#include <string_view>

#include <strandel/PlistValue.hpp>

namespace strandel::apfs {

/// The listing entry of the container whose reference or physical store `device` names, as a
/// new dictionary. Nothing on a running OS older than 10.12, or when no container matches or the
/// listing can't be read.
std::optional<PlistDict> container(std::string_view device);

/// Whether the first mount whose mount point ends like `mountPath` (same last component) has
/// the type "apfs". False on an OS older than 10.12 or without such mount.
bool isApfsMount(std::string_view mountPath);

}  // namespace strandel::apfs
