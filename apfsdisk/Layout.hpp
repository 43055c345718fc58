// Field offsets and constants of the APFS on-disk format, and a checked view of one block.
// Offsets count from the start of the object, its 32-byte header included.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace strandel::apfsdisk {

inline std::uint16_t loadLe16(const std::byte* p) {
  return static_cast<std::uint16_t>(static_cast<unsigned>(p[0]) | static_cast<unsigned>(p[1]) << 8);
}
inline std::uint32_t loadLe32(const std::byte* p) {
  return static_cast<std::uint32_t>(loadLe16(p)) | static_cast<std::uint32_t>(loadLe16(p + 2))
                                                       << 16;
}
inline std::uint64_t loadLe64(const std::byte* p) {
  return static_cast<std::uint64_t>(loadLe32(p)) | static_cast<std::uint64_t>(loadLe32(p + 4))
                                                       << 32;
}

// The object header (obj_phys_t).
inline constexpr std::size_t kObjectHeaderSize = 32;
inline constexpr std::size_t kObjOid = 8, kObjXid = 16, kObjType = 24, kObjSubtype = 28;
inline constexpr std::uint16_t kObjectTypeNxSuperblock = 0x01, kObjectTypeBtree = 0x02,
                               kObjectTypeBtreeNode = 0x03, kObjectTypeSpaceman = 0x05,
                               kObjectTypeOmap = 0x0B, kObjectTypeCheckpointMap = 0x0C,
                               kObjectTypeFs = 0x0D;

// The container superblock (nx_superblock_t).
inline constexpr std::size_t kNxMagic = 32, kNxBlockSize = 36, kNxBlockCount = 40, kNxUuid = 72,
                             kNxXpDescBlocks = 104, kNxXpDataBlocks = 108, kNxXpDescBase = 112,
                             kNxXpDataBase = 120, kNxSpacemanOid = 152, kNxOmapOid = 160,
                             kNxMaxFileSystems = 180, kNxFsOid = 184, kNxNextOid = 88;
inline constexpr std::uint32_t kNxMagicValue = 0x4253584E;  // "NXSB"
inline constexpr std::uint32_t kNxMaxFileSystemsLimit = 100;

// The checkpoint map (checkpoint_map_phys_t) and its entries (checkpoint_mapping_t: type,
// subtype, size, pad, fs oid, oid, paddr).
inline constexpr std::size_t kCpmCount = 36, kCpmMap = 40, kCpmEntrySize = 40;

// The space manager (spaceman_phys_t): the main device's free block count.
inline constexpr std::size_t kSmFreeCount = 72;

// The object map (omap_phys_t) and its values (omap_val_t: flags, size, paddr).
inline constexpr std::size_t kOmTreeOid = 48;
inline constexpr std::size_t kOmapValSize = 16;
inline constexpr std::uint32_t kOmapValDeleted = 0x1;

// B-tree nodes (btree_node_phys_t); a root node ends with a btree_info_t.
inline constexpr std::size_t kBtnFlags = 32, kBtnLevel = 34, kBtnNkeys = 36,
                             kBtnTableSpaceOffset = 40, kBtnTableSpaceLength = 42, kBtnData = 56,
                             kBtreeInfoSize = 40;
inline constexpr std::uint16_t kBtnodeRoot = 0x1, kBtnodeLeaf = 0x2, kBtnodeFixedKvSize = 0x4;

// The volume superblock (apfs_superblock_t).
inline constexpr std::size_t kApfsMagic = 32, kApfsIncompatibleFeatures = 56,
                             kApfsFsReserveBlockCount = 72, kApfsFsQuotaBlockCount = 80,
                             kApfsFsAllocCount = 88, kApfsNumSnapshots = 216, kApfsVolUuid = 240,
                             kApfsFsFlags = 264, kApfsVolname = 704, kApfsVolnameLength = 256,
                             kApfsRole = 964;
inline constexpr std::uint32_t kApfsMagicValue = 0x42535041;  // "APSB"
inline constexpr std::uint64_t kApfsIncompatCaseInsensitive = 0x1;
inline constexpr std::uint64_t kApfsFsUnencrypted = 0x1;

/// One object's bytes. The fixed-offset readers are for offsets inside the smallest block the
/// reader accepts (every header field is); offsets read from the disk are checked by the caller.
class Block {
 public:
  explicit Block(std::span<const std::byte> bytes) : bytes_(bytes) {}
  std::span<const std::byte> bytes() const { return bytes_; }
  std::size_t size() const { return bytes_.size(); }
  std::uint16_t u16(std::size_t offset) const {
    return offset + 2 <= bytes_.size() ? loadLe16(&bytes_[offset]) : 0;
  }
  std::uint32_t u32(std::size_t offset) const {
    return offset + 4 <= bytes_.size() ? loadLe32(&bytes_[offset]) : 0;
  }
  std::uint64_t u64(std::size_t offset) const {
    return offset + 8 <= bytes_.size() ? loadLe64(&bytes_[offset]) : 0;
  }
  std::uint64_t objectId() const { return u64(kObjOid); }
  std::uint64_t transaction() const { return u64(kObjXid); }
  std::uint16_t objectType() const { return static_cast<std::uint16_t>(u32(kObjType) & 0xFFFF); }
  std::uint32_t objectSubtype() const { return u32(kObjSubtype); }
  bool checksumValid() const;

 private:
  std::span<const std::byte> bytes_;
};

}  // namespace strandel::apfsdisk
