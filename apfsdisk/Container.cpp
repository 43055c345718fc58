// The on-disk layout follows Apple's published APFS reference: object headers, the container
// and volume superblocks, checkpoint areas, the object map and its B-tree nodes.
#include "apfsdisk/Container.hpp"

#include <algorithm>
#include <cstring>

#include "apfsdisk/Layout.hpp"
#include "base/Utf8.hpp"

namespace strandel::apfsdisk {
namespace {

// Sizes the reader accepts. Real containers use 4 KiB blocks; the format allows up to 64 KiB.
constexpr std::uint32_t kMinBlockSize = 4096;
constexpr std::uint32_t kMaxBlockSize = 65536;
// Checkpoint descriptor areas are a few blocks; a larger one is read only this far.
constexpr std::uint32_t kMaxDescriptorBlocks = 4096;
// An object-map tree of this depth would index far more objects than any disk holds.
constexpr int kMaxTreeDepth = 12;
// The space manager spans a few blocks at most.
constexpr std::uint32_t kMaxSpacemanBytes = 16 * kMaxBlockSize;

class Reader {
 public:
  Reader(const ByteSource& source, std::uint32_t blockSize)
      : source_(source), blockSize_(blockSize), buffer_(blockSize) {}

  // The block at `address`, or nothing past the end or on a failed read.
  const Block* block(std::uint64_t address) {
    if (address > source_.size() / blockSize_) return nullptr;
    if (!source_.read(address * blockSize_, buffer_)) return nullptr;
    view_ = Block(buffer_);
    return &view_;
  }

  // The block at `address` when it is an object with a good checksum and type `type`.
  const Block* object(std::uint64_t address, std::uint16_t type) {
    const Block* b = block(address);
    if (!b || !b->checksumValid() || b->objectType() != type) return nullptr;
    return b;
  }

  std::uint32_t blockSize() const { return blockSize_; }
  const ByteSource& source() const { return source_; }

 private:
  const ByteSource& source_;
  std::uint32_t blockSize_;
  std::vector<std::byte> buffer_;
  Block view_{std::span<const std::byte>()};
};

struct OmapKey {
  std::uint64_t oid = 0;
  std::uint64_t xid = 0;
  auto operator<=>(const OmapKey&) const = default;
};

// One entry of a B-tree node's table of contents: where its key and value lie in the block.
struct Entry {
  std::size_t keyOffset = 0, keyLength = 0, valueOffset = 0, valueLength = 0;
};

// The entry `i` of a node, every offset checked against the node's areas; nothing when the
// node lies about where it is.
std::optional<Entry> nodeEntry(const Block& node, std::uint32_t i) {
  const std::size_t size = node.size();
  const std::uint16_t flags = node.u16(kBtnFlags);
  const bool fixed = flags & kBtnodeFixedKvSize;
  const bool leaf = flags & kBtnodeLeaf;
  const std::size_t tocOffset = kBtnData + node.u16(kBtnTableSpaceOffset);
  const std::size_t tocLength = node.u16(kBtnTableSpaceLength);
  const std::size_t keyStart = tocOffset + tocLength;
  const std::size_t valueEnd = size - ((flags & kBtnodeRoot) ? kBtreeInfoSize : 0);
  if (keyStart > valueEnd) return std::nullopt;
  const std::size_t entrySize = fixed ? 4 : 8;
  if ((static_cast<std::size_t>(i) + 1) * entrySize > tocLength) return std::nullopt;
  const std::size_t at = tocOffset + i * entrySize;
  Entry e;
  if (fixed) {
    e.keyOffset = node.u16(at);
    e.keyLength = sizeof(OmapKey);
    std::size_t v = node.u16(at + 2);
    e.valueLength = leaf ? kOmapValSize : 8;
    if (v > valueEnd || v < e.valueLength) return std::nullopt;
    e.valueOffset = valueEnd - v;
  } else {
    e.keyOffset = node.u16(at);
    e.keyLength = node.u16(at + 2);
    std::size_t v = node.u16(at + 4);
    e.valueLength = node.u16(at + 6);
    if (v > valueEnd || v < e.valueLength) return std::nullopt;
    e.valueOffset = valueEnd - v;
  }
  e.keyOffset += keyStart;
  if (e.keyLength < sizeof(OmapKey) || e.keyOffset > valueEnd ||
      e.keyLength > valueEnd - e.keyOffset)
    return std::nullopt;
  if (e.valueOffset < keyStart) return std::nullopt;
  if (e.valueLength < (leaf ? kOmapValSize : 8)) return std::nullopt;
  return e;
}

// The physical address that the object map `omapAddress` gives the virtual object `oid` at the
// transaction `xid` (the newest mapping not after it); nothing when there is none or the map
// can't be trusted. Each step goes one level down, so the walk ends after at most
// kMaxTreeDepth blocks whatever the child pointers say.
std::optional<std::uint64_t> omapLookup(Reader& reader, std::uint64_t omapAddress,
                                        std::uint64_t oid, std::uint64_t xid) {
  const Block* omap = reader.object(omapAddress, kObjectTypeOmap);
  if (!omap) return std::nullopt;
  std::uint64_t nodeAddress = omap->u64(kOmTreeOid);
  const OmapKey wanted{oid, xid};
  int expectedLevel = -1;
  for (int depth = 0; depth < kMaxTreeDepth; ++depth) {
    const Block* node = reader.block(nodeAddress);
    if (!node || !node->checksumValid()) return std::nullopt;
    const std::uint16_t type = node->objectType();
    if (type != (depth == 0 ? kObjectTypeBtree : kObjectTypeBtreeNode) ||
        node->objectSubtype() != kObjectTypeOmap)
      return std::nullopt;
    const std::uint16_t flags = node->u16(kBtnFlags);
    if (depth == 0 && !(flags & kBtnodeRoot)) return std::nullopt;
    const int level = node->u16(kBtnLevel);
    if (expectedLevel >= 0 && level != expectedLevel) return std::nullopt;
    if (level > kMaxTreeDepth || ((flags & kBtnodeLeaf) != 0) != (level == 0)) return std::nullopt;
    const std::uint32_t count = node->u32(kBtnNkeys);
    if (count > node->size() / 4) return std::nullopt;
    // The last entry whose key is not after the wanted one; keys are in ascending order, and
    // one out of order refuses the node.
    std::optional<Entry> chosen;
    OmapKey previous{};
    for (std::uint32_t i = 0; i < count; ++i) {
      auto entry = nodeEntry(*node, i);
      if (!entry) return std::nullopt;
      OmapKey key{node->u64(entry->keyOffset), node->u64(entry->keyOffset + 8)};
      if (i > 0 && !(previous < key)) return std::nullopt;
      previous = key;
      if (wanted < key) break;
      chosen = entry;
    }
    if (!chosen) return std::nullopt;
    if (level == 0) {
      if (node->u64(chosen->keyOffset) != oid) return std::nullopt;
      if (node->u32(chosen->valueOffset) & kOmapValDeleted) return std::nullopt;
      return node->u64(chosen->valueOffset + 8);
    }
    nodeAddress = node->u64(chosen->valueOffset);
    expectedLevel = level - 1;
  }
  return std::nullopt;
}

std::string uuidText(const Block& b, std::size_t offset) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (std::size_t i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
    auto byte = static_cast<unsigned>(b.bytes()[offset + i]);
    text += kHex[byte >> 4];
    text += kHex[byte & 0xF];
  }
  return text;
}

// A NUL-terminated name in a fixed field; bytes that are not UTF-8 are read as Latin-1 so the
// name is always text.
std::string nameText(const Block& b, std::size_t offset, std::size_t length) {
  const char* start = reinterpret_cast<const char*>(b.bytes().data() + offset);
  std::string_view raw(start, strnlen(start, length));
  if (base::isValidUtf8(raw)) return std::string(raw);
  return base::decodeLatin1(raw);
}

// Whether the block holds a container superblock (checksum, type and magic).
bool isSuperblock(const Block& b) {
  return b.checksumValid() && b.objectType() == kObjectTypeNxSuperblock &&
         b.u32(kNxMagic) == kNxMagicValue;
}

// The free block count of the space manager of the checkpoint at `xid`, found through the
// checkpoint maps of the descriptor area; nothing when any step fails.
std::optional<std::uint64_t> freeBlocks(Reader& reader, const Block& super, std::uint64_t xid) {
  const std::uint64_t spacemanOid = super.u64(kNxSpacemanOid);
  const std::uint64_t descBase = super.u64(kNxXpDescBase);
  const std::uint32_t descBlocks = std::min(super.u32(kNxXpDescBlocks), kMaxDescriptorBlocks);
  const std::uint64_t dataBase = super.u64(kNxXpDataBase);
  const std::uint32_t dataBlocks = super.u32(kNxXpDataBlocks) & 0x7FFFFFFFu;
  std::optional<std::uint64_t> address;
  std::uint32_t size = 0;
  for (std::uint32_t i = 0; i < descBlocks && !address; ++i) {
    const Block* map = reader.object(descBase + i, kObjectTypeCheckpointMap);
    if (!map || map->transaction() != xid) continue;
    const std::uint32_t count = map->u32(kCpmCount);
    if (count > (map->size() - kCpmMap) / kCpmEntrySize) continue;
    for (std::uint32_t m = 0; m < count; ++m) {
      const std::size_t at = kCpmMap + m * kCpmEntrySize;
      if (map->u64(at + 24) != spacemanOid) continue;
      address = map->u64(at + 32);
      size = map->u32(at + 8);
      break;
    }
  }
  if (!address || *address < dataBase || *address - dataBase >= dataBlocks) return std::nullopt;
  const std::uint32_t blockSize = reader.blockSize();
  if (size < blockSize || size > kMaxSpacemanBytes || size % blockSize != 0) return std::nullopt;
  std::vector<std::byte> bytes(size);
  if (*address > reader.source().size() / blockSize ||
      !reader.source().read(*address * blockSize, bytes))
    return std::nullopt;
  Block spaceman(bytes);
  if (!spaceman.checksumValid() || spaceman.objectType() != kObjectTypeSpaceman ||
      spaceman.objectId() != spacemanOid)
    return std::nullopt;
  return spaceman.u64(kSmFreeCount);
}

std::optional<Volume> readVolume(Reader& reader, std::uint64_t address, std::uint64_t oid,
                                 std::uint32_t index) {
  const Block* b = reader.object(address, kObjectTypeFs);
  if (!b || b->u32(kApfsMagic) != kApfsMagicValue || b->objectId() != oid) return std::nullopt;
  Volume v;
  v.index = index;
  v.name = nameText(*b, kApfsVolname, kApfsVolnameLength);
  v.uuid = uuidText(*b, kApfsVolUuid);
  v.role = b->u16(kApfsRole);
  v.caseSensitive = !(b->u64(kApfsIncompatibleFeatures) & kApfsIncompatCaseInsensitive);
  v.encrypted = !(b->u64(kApfsFsFlags) & kApfsFsUnencrypted);
  // Block counts from disk times the block size: a count that would overflow is a lie.
  const std::uint64_t blockSize = reader.blockSize();
  const std::uint64_t limit = UINT64_MAX / blockSize;
  v.bytesUsed = std::min(b->u64(kApfsFsAllocCount), limit) * blockSize;
  v.bytesReserved = std::min(b->u64(kApfsFsReserveBlockCount), limit) * blockSize;
  v.bytesQuota = std::min(b->u64(kApfsFsQuotaBlockCount), limit) * blockSize;
  v.snapshotCount = b->u64(kApfsNumSnapshots);
  return v;
}

}  // namespace

std::uint64_t objectChecksum(std::span<const std::byte> object) {
  // Fletcher-64 over 32-bit little-endian words, with the modulus 2^32 - 1. The sums are
  // reduced at every step, so they never overflow whatever the length.
  constexpr std::uint64_t kMod = 0xFFFFFFFFull;
  std::uint64_t sum1 = 0, sum2 = 0;
  for (std::size_t i = 8; i + 4 <= object.size(); i += 4) {
    sum1 = (sum1 + loadLe32(object.data() + i)) % kMod;
    sum2 = (sum2 + sum1) % kMod;
  }
  const std::uint64_t c1 = kMod - ((sum1 + sum2) % kMod);
  const std::uint64_t c2 = kMod - ((sum1 + c1) % kMod);
  return (c2 << 32) | c1;
}

bool Block::checksumValid() const {
  return bytes_.size() >= kObjectHeaderSize && objectChecksum(bytes_) == u64(0);
}

std::string roleName(std::uint16_t role) {
  switch (role) {
    case kRoleSystem:
      return "System";
    case kRoleUser:
      return "User";
    case kRoleRecovery:
      return "Recovery";
    case kRoleVM:
      return "VM";
    case kRolePreboot:
      return "Preboot";
    case kRoleInstaller:
      return "Installer";
    case kRoleData:
      return "Data";
    case kRoleBaseband:
      return "Baseband";
    case kRoleUpdate:
      return "Update";
    case kRoleXart:
      return "xART";
    case kRoleHardware:
      return "Hardware";
    case kRoleBackup:
      return "Backup";
    case kRoleEnterprise:
      return "Enterprise";
    case kRolePrelogin:
      return "Prelogin";
    default:
      return "";
  }
}

bool looksLikeContainer(const ByteSource& source) {
  std::array<std::byte, 4> magic{};
  return source.read(kNxMagic, magic) && loadLe32(magic.data()) == kNxMagicValue;
}

ContainerResult readContainer(const ByteSource& source) {
  std::array<std::byte, kNxBlockSize + 4> head{};
  if (!source.read(0, head) || loadLe32(head.data() + kNxMagic) != kNxMagicValue)
    return {std::nullopt, "not an APFS container"};
  const std::uint32_t blockSize = loadLe32(head.data() + kNxBlockSize);
  if (blockSize < kMinBlockSize || blockSize > kMaxBlockSize || (blockSize & (blockSize - 1)) != 0)
    return {std::nullopt, "APFS container: unsupported block size " + std::to_string(blockSize)};

  Reader reader(source, blockSize);
  const Block* first = reader.block(0);
  if (!first || !isSuperblock(*first))
    return {std::nullopt, "APFS container: the superblock's checksum is wrong"};
  std::vector<std::byte> best(first->bytes().begin(), first->bytes().end());
  std::uint64_t bestXid = first->transaction();

  // The newest superblock of the checkpoint descriptor area with a good checksum is the
  // container's current state; block 0 is only a copy made at some earlier checkpoint. An
  // area kept as a tree (the high bit of its block count) is not read: block 0 then serves.
  const std::uint32_t descField = first->u32(kNxXpDescBlocks);
  const std::uint64_t descBase = first->u64(kNxXpDescBase);
  if (!(descField & 0x80000000u)) {
    const std::uint32_t descBlocks = std::min(descField, kMaxDescriptorBlocks);
    for (std::uint32_t i = 0; i < descBlocks; ++i) {
      const Block* b = reader.block(descBase + i);
      if (!b || !isSuperblock(*b) || b->u32(kNxBlockSize) != blockSize) continue;
      if (b->transaction() > bestXid) {
        bestXid = b->transaction();
        best.assign(b->bytes().begin(), b->bytes().end());
      }
    }
  }
  const Block super(best);

  Container c;
  c.blockSize = blockSize;
  c.blockCount = super.u64(kNxBlockCount);
  c.uuid = uuidText(super, kNxUuid);
  c.transaction = bestXid;
  if (c.blockCount == 0 || c.blockCount > UINT64_MAX / blockSize)
    return {std::nullopt, "APFS container: impossible block count"};
  c.freeBlocks = freeBlocks(reader, super, bestXid);
  if (c.freeBlocks && *c.freeBlocks > c.blockCount) c.freeBlocks.reset();

  const std::uint64_t omapAddress = super.u64(kNxOmapOid);
  // The whole array is read, not only the count the container allows: a volume is there when
  // its slot holds an object id, as the Mac reads it.
  for (std::uint32_t i = 0; i < kNxMaxFileSystemsLimit; ++i) {
    const std::uint64_t oid = super.u64(kNxFsOid + 8 * i);
    if (oid == 0) continue;
    auto address = omapLookup(reader, omapAddress, oid, bestXid);
    if (!address)
      return {std::nullopt,
              "APFS container: the object map does not lead to volume " + std::to_string(i + 1)};
    auto volume = readVolume(reader, *address, oid, i);
    if (!volume)
      return {std::nullopt,
              "APFS container: volume " + std::to_string(i + 1) + " has no valid superblock"};
    c.volumes.push_back(std::move(*volume));
  }
  return {std::move(c), {}};
}

}  // namespace strandel::apfsdisk
