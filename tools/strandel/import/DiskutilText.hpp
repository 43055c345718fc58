// `diskutil info` and `diskutil apfs list` as people paste them: the text forms, read into the
// shapes of their -plist forms so that the rest of the import reads them alike.
#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include <strandel/PlistValue.hpp>

namespace strandel::importer {

/// The text form of `diskutil info` (one disk, or several as `info -all` prints them), one
/// dictionary per disk in diskutil info -plist's keys: each section starts at its "Device
/// Identifier:" line and holds the "Label: value" lines up to the next. Figures are the exact
/// byte counts in parentheses ("(245107195904 Bytes)"); "Yes"/"No" become booleans; a label
/// this reader does not know is passed over, and so are lines of other output. Empty when no
/// section has a BSD name.
std::vector<PlistDict> infoFromText(std::string_view text);

/// The text form of `diskutil apfs list`, in the shape of `apfs list -plist`: Containers with
/// ContainerReference, APFSContainerUUID, CapacityCeiling, CapacityFree, DesignatedPhysicalStore,
/// PhysicalStores and Volumes (DeviceIdentifier, APFSVolumeUUID, Name, Roles, CapacityInUse). The
/// text also tells what the -plist form leaves out, which is kept in diskutil list -plist's keys:
/// a volume's MountPoint when it is mounted, and MountedSnapshots (SnapshotBSD,
/// SnapshotMountPoint, SnapshotUUID) for its mounted snapshot. The "Volume Group" sections
/// repeat volumes and are passed over. Nothing when no container is found.
std::optional<PlistDict> apfsListFromText(std::string_view text);

}  // namespace strandel::importer
