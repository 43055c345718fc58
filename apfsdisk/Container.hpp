// An APFS container read from its own on-disk structures: the latest valid checkpoint's
// container superblock, the object map, and each volume's superblock. Every read is bounded:
// offsets, counts and sizes are checked against the block and the source, every object's
// checksum is verified, and the object-map walk descends one level per step with a depth limit,
// so a hostile container is refused in time proportional to the blocks it names.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "apfsdisk/ByteSource.hpp"

namespace strandel::apfsdisk {

/// A volume's role bits as the volume superblock stores them.
enum VolumeRole : std::uint16_t {
  kRoleNone = 0x0000,
  kRoleSystem = 0x0001,
  kRoleUser = 0x0002,
  kRoleRecovery = 0x0004,
  kRoleVM = 0x0008,
  kRolePreboot = 0x0010,
  kRoleInstaller = 0x0020,
  kRoleData = 0x0040,
  kRoleBaseband = 0x0080,
  kRoleUpdate = 0x00C0,
  kRoleXart = 0x0100,
  kRoleHardware = 0x0140,
  kRoleBackup = 0x0180,
  kRoleEnterprise = 0x0240,
  kRolePrelogin = 0x02C0,
};

/// The role's name as the Mac's disk utility lists it ("System", "Data", ...); "" for none or
/// a value it has no name for.
std::string roleName(std::uint16_t role);

struct Volume {
  std::uint32_t index = 0;  // place in the container's volume array: diskNs(index+1)
  std::string name;         // UTF-8; bytes that are not are replaced
  std::string uuid;         // canonical upper-case text
  std::uint16_t role = kRoleNone;
  bool caseSensitive = false;
  bool encrypted = false;
  std::uint64_t bytesUsed = 0;  // blocks allocated to the volume, in bytes
  std::uint64_t bytesReserved = 0;
  std::uint64_t bytesQuota = 0;  // 0: none
  std::uint64_t snapshotCount = 0;
};

struct Container {
  std::string uuid;  // canonical upper-case text
  std::uint32_t blockSize = 0;
  std::uint64_t blockCount = 0;
  std::optional<std::uint64_t> freeBlocks;  // from the space manager, when it can be read
  std::uint64_t transaction = 0;            // the checkpoint read
  std::vector<Volume> volumes;              // in the container's order
};

/// The container or the one line saying why the bytes are not one.
struct ContainerResult {
  std::optional<Container> container;
  std::string error;
};

/// Reads the container whose superblock is at byte 0 of `source`. Never crashes, never loops;
/// memory stays within a few blocks.
ContainerResult readContainer(const ByteSource& source);

/// Whether `source` starts with a container superblock (the magic alone, nothing checked).
bool looksLikeContainer(const ByteSource& source);

/// The Fletcher-64 checksum that APFS stores in every object's first eight bytes, computed
/// over the object's bytes after them.
std::uint64_t objectChecksum(std::span<const std::byte> object);

}  // namespace strandel::apfsdisk
