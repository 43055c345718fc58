// The mount table of an imported Mac: `mount`'s lines with `df -k`'s figures.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include <strandel/PlistValue.hpp>

#include "tools/strandel/import/DiskFacts.hpp"
#include "tools/strandel/import/Dump.hpp"
#include "tools/strandel/import/MountText.hpp"

namespace strandel::importer {

/// One mount entry as the importer holds it until written: a small part of the memory its
/// dictionary takes, which counts when a mount table runs to many thousands of lines.
struct HeldMount {
  PlistValue mountedOn, mountedFrom, type;  // strings, or data for bytes that are not UTF-8
  std::uint32_t blockSize = 0;
  std::uint64_t blocks = 0, freeBlocks = 0;
};

/// The mounts of `mount`'s output, in its order; the lines that are not mounts get one line
/// naming them (blank lines pass silently).
std::vector<MountLine> readMountLines(std::string_view text, Problems& problems);

/// The mounts that the disks' mount points give, for a dump without `mount`'s output: "/"
/// first, then in BSD order, each with its disk's file system. The volume of a snapshot mounted
/// at the same point is left out, as the kernel mounts the snapshot alone. The table is a
/// guess, with one line saying so.
std::vector<MountLine> mountLinesFromDisks(const DiskMap& disks, Problems& problems);

/// The mount entries of machine.plist. Figures come from df's row of the mount; without one,
/// from diskutil info of the mounted disk (its size, and its free space or its container's);
/// without that, from the sizes the listings give (a guess, with a line); else they are 0. Names
/// that are not UTF-8 are kept as data. The lines' texts are moved into the entries.
std::vector<HeldMount> mountEntries(std::vector<MountLine> mounts, const Dump& dump,
                                    const DiskMap& disks, Problems& problems);

}  // namespace strandel::importer
