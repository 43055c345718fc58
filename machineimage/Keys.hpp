// The key names of machine.plist, for its reader (the image backend) and its writers (the
// registry dump and the importer of real Macs). MACHINE-IMAGE.md in the docs tells their meaning.
#pragma once

namespace strandel::machineimage::key {

// The top level.
inline constexpr char kRegistry[] = "Registry";
inline constexpr char kMounts[] = "Mounts";
inline constexpr char kUserName[] = "UserName";

// A registry entry.
inline constexpr char kClass[] = "Class";
inline constexpr char kIOMedia[] = "IOMedia";
inline constexpr char kProperties[] = "Properties";
inline constexpr char kDescription[] = "Description";
inline constexpr char kChildren[] = "Children";

// A mount entry: the fields of statfs.
inline constexpr char kMountedOn[] = "f_mntonname";
inline constexpr char kMountedFrom[] = "f_mntfromname";
inline constexpr char kFsType[] = "f_fstypename";
inline constexpr char kBlockSize[] = "f_bsize";
inline constexpr char kBlocks[] = "f_blocks";
inline constexpr char kFreeBlocks[] = "f_bfree";

}  // namespace strandel::machineimage::key
