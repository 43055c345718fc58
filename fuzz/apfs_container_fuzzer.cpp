// The APFS container reader on hostile disks. A disk is mostly empty, so the input names only
// the blocks that hold something: a flag byte, then records of a 2-byte little-endian block
// number and 4096 bytes (the last record may be short). Every other block of the 256 MiB disk
// reads as zeros. With the flag's low bit set, each given block gets a correct checksum, so
// mutations reach past the checksum test into the object map and the volume superblocks.
#include <array>
#include <cstring>
#include <map>
#include <vector>

#include "apfsdisk/Container.hpp"
#include "fuzz/FuzzCheck.hpp"

namespace {

using strandel::fuzz::check;
constexpr std::size_t kBlock = 4096;
constexpr std::uint64_t kDiskBlocks = 65536;

class SparseDisk final : public strandel::apfsdisk::ByteSource {
 public:
  std::map<std::uint64_t, std::array<std::byte, kBlock>> blocks;
  std::uint64_t size() const override { return kDiskBlocks * kBlock; }
  bool read(std::uint64_t offset, std::span<std::byte> out) const override {
    if (offset > size() || out.size() > size() - offset) return false;
    std::size_t done = 0;
    while (done < out.size()) {
      std::uint64_t at = offset + done;
      std::size_t within = at % kBlock, n = std::min(out.size() - done, kBlock - within);
      auto found = blocks.find(at / kBlock);
      if (found == blocks.end()) std::memset(out.data() + done, 0, n);
      else std::memcpy(out.data() + done, found->second.data() + within, n);
      done += n;
    }
    return true;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const bool fixChecksums = data[0] & 1;
  SparseDisk disk;
  for (std::size_t at = 1; at + 2 <= size;) {
    std::uint64_t number = data[at] | data[at + 1] << 8;
    at += 2;
    std::array<std::byte, kBlock> block{};
    std::size_t n = std::min(kBlock, size - at);
    std::memcpy(block.data(), data + at, n);
    at += n;
    if (fixChecksums) {
      std::uint64_t sum = strandel::apfsdisk::objectChecksum(block);
      for (int i = 0; i < 8; ++i) block[i] = static_cast<std::byte>(sum >> (8 * i));
    }
    disk.blocks[number] = block;
  }
  auto result = strandel::apfsdisk::readContainer(disk);
  if (!result.container) {
    check(!result.error.empty(), "a refusal says why");
    return 0;
  }
  const auto& c = *result.container;
  check(c.blockSize >= 4096 && (c.blockSize & (c.blockSize - 1)) == 0,
        "the block size is a power of two");
  check(c.volumes.size() <= 100, "at most 100 volumes");
  check(!c.freeBlocks || *c.freeBlocks <= c.blockCount, "free blocks within the container");
  check(c.uuid.size() == 36, "a UUID's text");
  return 0;
}
