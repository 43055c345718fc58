// The APFS container reader: its cost grows with the blocks it reads (the checkpoint descriptor
// area, one object-map path per volume), never with the container's size. The container here is
// synthetic: a superblock whose descriptor area is `range` blocks, every one of them holding a
// valid superblock of an older transaction, so each is read and checksummed.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

#include "apfsdisk/Container.hpp"
#include "apfsdisk/Layout.hpp"

namespace strandel::apfsdisk {
namespace {

void put(std::string& bytes, std::size_t at, std::uint64_t value, int width) {
  for (int i = 0; i < width; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
}

void seal(std::string& bytes, std::size_t block) {
  std::span<const std::byte> object(reinterpret_cast<const std::byte*>(bytes.data()) + block * 4096,
                                    4096);
  put(bytes, block * 4096, objectChecksum(object), 8);
}

std::string containerWithDescriptorArea(std::uint32_t blocks) {
  std::string bytes(std::size_t{4096} * (blocks + 4), '\0');
  for (std::uint32_t b = 0; b <= blocks; ++b) {
    const std::size_t at = std::size_t{b} * 4096;
    put(bytes, at + kObjXid, b == 0 ? 1 : b, 8);
    put(bytes, at + kObjType, kObjectTypeNxSuperblock, 4);
    put(bytes, at + kNxMagic, kNxMagicValue, 4);
    put(bytes, at + kNxBlockSize, 4096, 4);
    put(bytes, at + kNxBlockCount, blocks + 4, 8);
    put(bytes, at + kNxXpDescBase, 1, 8);
    put(bytes, at + kNxXpDescBlocks, blocks, 4);
    seal(bytes, b);
  }
  return bytes;
}

void readDescriptorArea(benchmark::State& state) {
  const std::string bytes = containerWithDescriptorArea(static_cast<std::uint32_t>(state.range(0)));
  auto source = memorySource(bytes);
  for (auto _ : state) benchmark::DoNotOptimize(readContainer(*source));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0) * 4096);
  state.SetComplexityN(state.range(0));
}
BENCHMARK(readDescriptorArea)->RangeMultiplier(8)->Range(8, 4096)->Complexity(benchmark::oN);

void checksumOneMegabyte(benchmark::State& state) {
  std::string bytes(1 << 20, '\x5a');
  std::span<const std::byte> object(reinterpret_cast<const std::byte*>(bytes.data()), bytes.size());
  for (auto _ : state) benchmark::DoNotOptimize(objectChecksum(object));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * (1 << 20));
}
BENCHMARK(checksumOneMegabyte);

}  // namespace
}  // namespace strandel::apfsdisk
