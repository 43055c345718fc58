// What one disk holds, found by libblkid (partition table, partitions, file systems) and, for
// APFS, by reading the container itself. The disk is a block device or a disk image file; it
// is only ever read.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "apfsdisk/Container.hpp"

namespace strandel::platform::live {

/// A file system as libblkid names it.
struct ProbedFileSystem {
  std::string type;     // libblkid's TYPE: vfat, exfat, hfsplus, apfs, ext4, ...
  std::string version;  // FAT12/FAT16/FAT32 for vfat
  std::string label;
  std::string uuid;
};

struct ProbedPartition {
  int number = 0;            // the table's partition number: diskNs<number>
  std::uint64_t offset = 0;  // bytes from the disk's start
  std::uint64_t size = 0;
  std::string content;  // GPT: the type GUID, upper case; MBR: the type as two hex digits
  std::string name;     // GPT partition name
  std::string uuid;     // GPT partition UUID, upper case
  std::optional<ProbedFileSystem> fileSystem;
  std::optional<apfsdisk::Container> container;
};

struct ProbedDisk {
  std::string scheme;  // "gpt", "dos", or "" for none
  std::string tableUuid;
  std::vector<ProbedPartition> partitions;
  // A disk with no partition table may hold a file system or a container itself.
  std::optional<ProbedFileSystem> fileSystem;
  std::optional<apfsdisk::Container> container;
};

/// Probes the disk at `path`; nothing when it can't be opened for reading.
std::optional<ProbedDisk> probeDisk(const std::string& path);

/// The GPT type of APFS containers.
inline constexpr std::string_view kApfsPartitionType = "7C3457EF-0000-11AA-AA11-00306543ECAC";

}  // namespace strandel::platform::live
