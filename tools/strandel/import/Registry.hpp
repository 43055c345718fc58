// The registry tree of an imported Mac, in the machine image's entry form.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <strandel/PlistValue.hpp>

#include "tools/strandel/import/DiskFacts.hpp"
#include "tools/strandel/import/Dump.hpp"

namespace strandel::importer {

struct RegistryEntry {
  std::string className;
  bool media = false;
  PlistDict properties;
  std::optional<PlistDict> description;
  std::vector<RegistryEntry> children;
};

/// The entries as machine.plist holds them. "IOMedia" is written only where it differs from
/// what the image assumes (media exactly when there is a description). The entries' values are
/// moved, not copied: a registry of many thousand disks is then never held twice.
PlistArray registryValue(std::vector<RegistryEntry>&& roots);

/// Counts the entries and the media objects of a tree.
struct RegistryCounts {
  std::size_t entries = 0, media = 0, volumes = 0;
};
RegistryCounts countEntries(const std::vector<RegistryEntry>& roots);

struct RegistryOptions {
  bool noteMissingInfo = true;  // a line for each disk described without its info file
  const std::map<std::string, std::string, std::less<>>* failures =
      nullptr;  // the recorder's reasons
};

/// The registry rebuilt from the disks: whole disks and partitions (IOMedia) with a partition
/// scheme between them, APFS containers (AppleAPFSContainer, not media) on their physical
/// stores with the container's AppleAPFSMedia below, volumes (AppleAPFSVolume) below that and
/// snapshots (AppleAPFSSnapshot) below their volume; siblings in BSD-number order.
std::vector<RegistryEntry> registryFromDisks(const DiskMap& disks, const RegistryOptions& options,
                                             Problems& problems);

/// The registry of an `ioreg -a -l` dump (the root entry, or an array of subtree roots), cut
/// down to the media objects, everything below them and the entries above them, whose
/// properties a search can reach. Disks the dump knows of that ioreg did not show get a line.
std::vector<RegistryEntry> registryFromIoreg(const PlistValue& ioreg, DiskMap& disks,
                                             const RegistryOptions& options, Problems& problems);

/// The line for a disk described without its info file, if `options` ask for one.
void noteMissingInfo(const std::string& bsd, const DiskFacts& facts, const RegistryOptions& options,
                     Problems& problems);

}  // namespace strandel::importer
