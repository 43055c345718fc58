// The OS version of a Mac whose dump did not record sw_vers: the least one that what was
// recorded allows.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tools/strandel/import/DiskFacts.hpp"
#include "tools/strandel/import/Dump.hpp"
#include "tools/strandel/import/MountText.hpp"

namespace strandel::importer {

struct VersionGuess {
  std::string version;  // "10.13"
  std::string why;      // what shows it: "DesignatedPhysicalStore in diskutil-apfs-list.plist"
};

/// The least version consistent with the dump: a Recovery HD partition or CoreStorage 10.7,
/// APFS 10.12, an APFS listing with DesignatedPhysicalStore 10.13, a Data role or
/// /System/Volumes/Data 10.15, a snapshot mounted at "/" or an Apple silicon system container
/// (xART, Hardware) 11.0. Nothing when no recording narrows it.
std::optional<VersionGuess> leastVersion(const Dump& dump, const DiskMap& disks,
                                         const std::vector<MountLine>& mounts);

/// What `sw_vers` prints for a version it was not recorded for: its ProductName and
/// ProductVersion lines ("Mac OS X" before 11, "macOS" from 11).
std::string swVersText(const std::string& version);

}  // namespace strandel::importer
