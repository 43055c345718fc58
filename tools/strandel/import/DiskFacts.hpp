// Everything the dump says about each disk, gathered under its BSD name in diskutil info's own
// keys, and where each disk sits: below which other media object, as what.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include <strandel/PlistValue.hpp>

#include "tools/strandel/import/BsdName.hpp"
#include "tools/strandel/import/Dump.hpp"
#include "tools/strandel/import/MountText.hpp"

namespace strandel::importer {

inline constexpr const char* kApfsContainerContent = "EF57347C-0000-11AA-AA11-00306543ECAC";
inline constexpr const char* kApfsVolumeContent = "41504653-0000-11AA-AA11-00306543ECAC";

enum class DiskKind { Whole, Partition, ApfsContainer, ApfsVolume, ApfsSnapshot };

struct DiskFacts {
  std::optional<DiskKind> kind;
  std::optional<std::string>
      parent;      // the media object it sits below: partition on whole disk,
                   // container on physical store, volume in container, snapshot of volume
  PlistDict info;  // diskutil info keys; a key from info/BSD.plist wins over the listings
  std::vector<std::string> sources;  // the dump files that tell of it, in the order read
  bool hasInfoFile = false;
  std::vector<std::string> roles;    // the APFS roles; the first one counts
  PlistDict properties;              // registry properties no recording gives (DiskImageURL)
  std::vector<std::string> guesses;  // what was decided without a recording saying it
};

using DiskMap = std::map<std::string, DiskFacts, BsdLess>;

/// Gathers what the info files, the mount table, `diskutil list` and the APFS listing say of
/// each disk, in that order of precedence.
DiskMap gatherDisks(const Dump& dump, const std::vector<MountLine>& mounts, Problems& problems);

/// Gives every disk a kind and a parent where the listings left them open (from diskutil info's
/// keys, else from the BSD name: disk1s2 lies on disk1), and adds the disks that are only
/// implied (the whole disk of a partition that is listed alone), each with a line.
void settleTree(DiskMap& disks, Problems& problems);

/// Sets `key` in `dict` unless it is there already.
void fill(PlistDict& dict, const std::string& key, PlistValue value);

}  // namespace strandel::importer
