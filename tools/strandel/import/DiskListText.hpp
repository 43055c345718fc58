// `diskutil list` as people paste it: the text form, with a section per disk.
#pragma once

#include <optional>
#include <string_view>

#include <strandel/PlistValue.hpp>

namespace strandel::importer {

/// The text form of `diskutil list`, read into the shape of `diskutil list -plist`'s
/// AllDisksAndPartitions. Each section "/dev/diskN (internal, physical):" is a whole disk with
/// its row 0's type as Content, its size, `Internal` true or false when the section says
/// internal or external, and `BusProtocol` "Disk Image" for a disk image; the later rows are
/// its Partitions (Content, VolumeName, Size), or for an APFS container its APFSVolumes, with
/// the "Physical Store(s)" line as APFSPhysicalStores. Sizes are the printed decimal figures,
/// so they are rounded. Other lines (prompts, other output) are passed over. Nothing when no
/// section is found.
std::optional<PlistDict> diskListFromText(std::string_view text);

}  // namespace strandel::importer
