// What a partial dump implies but does not say: the layout of a Mac of which only `mount` or
// the listings were recorded, decided the way the Mac's own registry holds it. Every decision
// is a guess, noted in the disk's `guesses`.
#pragma once

#include <vector>

#include "tools/strandel/import/DiskFacts.hpp"
#include "tools/strandel/import/MountText.hpp"

namespace strandel::importer {

/// Before the tree is settled: the APFS containers, volumes and snapshots that apfs mounts
/// imply (a three-part name is a snapshot of its volume, the whole disk the container); the
/// role and the system's name of a volume at one of the system's own mount points; the System
/// volume below a sealed snapshot at "/"; the disk image of a simulator; the file system and
/// its user-visible name from the listing's Content or the mount; internal from the listing's
/// OSInternal. Only what no recording gives is set.
void guessFromLayout(DiskMap& disks, const std::vector<MountLine>& mounts);

/// Once every disk has its parent: the disk the system runs from is internal, and on an Apple
/// silicon Mac (a volume with the xART or Hardware role) so is the SSD of its system
/// containers, on the Apple Fabric. Nothing changes where an info file tells.
void guessPlacement(DiskMap& disks);

/// One line for each disk with guesses, naming them; disks beyond a handful with the very same
/// guesses share one line, which names the first of them and counts the rest.
void noteGuesses(const DiskMap& disks, Problems& problems);

}  // namespace strandel::importer
