#include "tests/support/ApfsFixture.hpp"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <span>

#include "apfsdisk/Container.hpp"
#include "apfsdisk/Layout.hpp"
#include "base/Handles.hpp"

namespace strandel::testing {
namespace {

using namespace strandel::apfsdisk;

// Stores `v` little-endian in `Bytes` bytes at `at`.
template <int Bytes>
void put(std::vector<std::byte>& b, std::size_t at, std::uint64_t v) {
  for (int i = 0; i < Bytes; ++i) b[at + i] = static_cast<std::byte>(v >> (8 * i));
}

class Device {
 public:
  explicit Device(const std::string& path) : fd_(::open(path.c_str(), O_RDWR | O_CLOEXEC)) {}
  bool valid() const { return fd_.valid(); }
  std::vector<std::byte> read(std::uint64_t block, std::uint32_t size) const {
    std::vector<std::byte> bytes(size);
    if (::pread(fd_.get(), bytes.data(), size, static_cast<off_t>(block * size)) != static_cast<ssize_t>(size))
      bytes.clear();
    return bytes;
  }
  bool write(std::uint64_t block, std::vector<std::byte>& bytes) const {
    // Every object written carries its checksum over the rest of its bytes.
    put<8>(bytes, 0, objectChecksum(bytes));
    return ::pwrite(fd_.get(), bytes.data(), bytes.size(), static_cast<off_t>(block * bytes.size())) ==
           static_cast<ssize_t>(bytes.size());
  }

 private:
  base::UniqueFd fd_;
};

bool putUuid(std::vector<std::byte>& b, std::size_t at, const std::string& text) {
  std::string hex;
  for (char c : text)
    if (c != '-') hex += c;
  if (hex.size() != 32) return false;
  for (std::size_t i = 0; i < 16; ++i)
    b[at + i] = static_cast<std::byte>(std::stoul(hex.substr(2 * i, 2), nullptr, 16));
  return true;
}

struct OmapEntry {
  std::uint64_t oid, xid, flagsAndSize, paddr;
};

// The container's state as mkapfs leaves it: the superblock copies of the newest checkpoint
// (block 0 among them) and its object map, a single root leaf.
struct Layout {
  std::uint32_t blockSize = 0;
  std::vector<std::uint64_t> superblocks;
  std::vector<std::byte> super;
  std::uint64_t omapRoot = 0;
  std::vector<std::byte> root;
};

std::string readLayout(const Device& device, Layout& layout) {
  auto head = device.read(0, 4096);
  if (head.empty()) return "can't read block 0";
  layout.blockSize = loadLe32(&head[kNxBlockSize]);
  layout.super = device.read(0, layout.blockSize);
  Block zero(layout.super);
  std::uint64_t xid = zero.transaction();
  layout.superblocks = {0};
  for (std::uint32_t i = 0; i < zero.u32(kNxXpDescBlocks); ++i) {
    auto b = device.read(zero.u64(kNxXpDescBase) + i, layout.blockSize);
    Block view(b);
    if (!b.empty() && view.checksumValid() && view.objectType() == kObjectTypeNxSuperblock && view.transaction() >= xid)
      layout.superblocks.push_back(zero.u64(kNxXpDescBase) + i);
  }
  auto omap = device.read(zero.u64(kNxOmapOid), layout.blockSize);
  if (omap.empty()) return "can't read the object map";
  layout.omapRoot = loadLe64(&omap[kOmTreeOid]);
  layout.root = device.read(layout.omapRoot, layout.blockSize);
  if (layout.root.empty() || !(loadLe16(&layout.root[kBtnFlags]) & kBtnodeLeaf) ||
      !(loadLe16(&layout.root[kBtnFlags]) & kBtnodeFixedKvSize))
    return "the object map is not a single fixed-size leaf";
  return "";
}

std::vector<OmapEntry> omapEntries(const std::vector<std::byte>& root) {
  Block node(root);
  std::vector<OmapEntry> entries;
  const std::size_t toc = kBtnData + node.u16(kBtnTableSpaceOffset);
  const std::size_t keys = toc + node.u16(kBtnTableSpaceLength);
  const std::size_t valueEnd = root.size() - kBtreeInfoSize;
  for (std::uint32_t i = 0; i < node.u32(kBtnNkeys); ++i) {
    std::size_t k = keys + node.u16(toc + 4 * i), v = valueEnd - node.u16(toc + 4 * i + 2);
    entries.push_back({node.u64(k), node.u64(k + 8), node.u64(v), node.u64(v + 8)});
  }
  return entries;
}

// Lays the entries out afresh: table of contents, keys packed after it, values packed before
// the tree information at the end of the block.
void writeOmapEntries(std::vector<std::byte>& root, std::vector<OmapEntry> entries) {
  std::sort(entries.begin(), entries.end(),
            [](const OmapEntry& a, const OmapEntry& b) { return a.oid != b.oid ? a.oid < b.oid : a.xid < b.xid; });
  const std::size_t n = entries.size();
  const std::size_t tocLength = std::max<std::size_t>(loadLe16(&root[kBtnTableSpaceLength]), (n * 4 + 7) / 8 * 8);
  const std::size_t keys = kBtnData + tocLength;
  const std::size_t valueEnd = root.size() - kBtreeInfoSize;
  std::fill(root.begin() + kBtnData, root.begin() + valueEnd, std::byte{0});
  put<2>(root, kBtnTableSpaceOffset, 0);
  put<2>(root, kBtnTableSpaceLength, tocLength);
  put<4>(root, kBtnNkeys, n);
  for (std::size_t i = 0; i < n; ++i) {
    put<2>(root, kBtnData + 4 * i, 16 * i);
    put<2>(root, kBtnData + 4 * i + 2, 16 * (i + 1));
    put<8>(root, keys + 16 * i, entries[i].oid);
    put<8>(root, keys + 16 * i + 8, entries[i].xid);
    put<8>(root, valueEnd - 16 * (i + 1), entries[i].flagsAndSize);
    put<8>(root, valueEnd - 16 * (i + 1) + 8, entries[i].paddr);
  }
  // The free space between keys and values, and empty free lists.
  put<2>(root, 44, 16 * n);
  put<2>(root, 46, valueEnd - keys - 32 * n);
  put<2>(root, 48, 0xFFFF);
  put<2>(root, 50, 0);
  put<2>(root, 52, 0xFFFF);
  put<2>(root, 54, 0);
  put<8>(root, root.size() - kBtreeInfoSize + 24, n);
}

}  // namespace

CommandResult runCommand(const std::string& commandLine) {
  CommandResult result;
  FILE* pipe = ::popen(commandLine.c_str(), "re");
  if (!pipe) return result;
  char buffer[4096];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.out.append(buffer, got);
  int status = ::pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

bool haveMkapfs() { return runCommand("command -v mkapfs >/dev/null 2>&1").status == 0; }

std::string makeApfsFixture(const std::string& path, const std::vector<FixtureVolume>& volumes) {
  if (volumes.empty()) return "no volumes asked for";
  auto made = runCommand("mkapfs -L '" + volumes[0].name + "' -u " + volumes[0].uuid + " '" + path + "' 2>&1");
  if (made.status != 0) return "mkapfs: " + made.out;
  Device device(path);
  if (!device.valid()) return "can't open " + path;
  Layout layout;
  if (auto problem = readLayout(device, layout); !problem.empty()) return problem;
  const std::uint32_t bs = layout.blockSize;
  Block super(layout.super);
  const std::uint64_t firstOid = super.u64(kNxFsOid);
  auto entries = omapEntries(layout.root);
  auto first = std::find_if(entries.begin(), entries.end(), [&](const OmapEntry& e) { return e.oid == firstOid; });
  if (first == entries.end()) return "the first volume is not in the object map";
  const std::uint64_t firstAddress = first->paddr;
  const std::uint64_t blockCount = super.u64(kNxBlockCount);
  std::uint64_t nextOid = super.u64(kNxNextOid);

  for (std::size_t i = 0; i < volumes.size(); ++i) {
    auto volume = device.read(firstAddress, bs);
    if (volume.empty()) return "can't read the first volume";
    std::uint64_t address = firstAddress;
    if (i > 0) {
      // Blocks at the container's end are unused in what mkapfs writes.
      address = blockCount - i;
      const std::uint64_t oid = nextOid++;
      put<8>(volume, kObjOid, oid);
      put<4>(volume, 36, i);
      if (!putUuid(volume, kApfsVolUuid, volumes[i].uuid)) return "bad UUID " + volumes[i].uuid;
      std::fill(volume.begin() + kApfsVolname, volume.begin() + kApfsVolname + kApfsVolnameLength, std::byte{0});
      std::memcpy(&volume[kApfsVolname], volumes[i].name.data(), std::min<std::size_t>(volumes[i].name.size(), 255));
      entries.push_back({oid, super.transaction(), static_cast<std::uint64_t>(bs) << 32, address});
      put<8>(layout.super, kNxFsOid + 8 * i, oid);
    }
    put<2>(volume, kApfsRole, volumes[i].role);
    if (!device.write(address, volume)) return "can't write a volume";
  }
  put<8>(layout.super, kNxNextOid, nextOid);
  put<4>(layout.super, kNxMaxFileSystems, std::max<std::uint64_t>(super.u32(kNxMaxFileSystems), volumes.size()));
  writeOmapEntries(layout.root, entries);
  if (!device.write(layout.omapRoot, layout.root)) return "can't write the object map";
  for (std::uint64_t address : layout.superblocks) {
    // Each copy keeps its own header (the checkpoint copy and block 0 are the same object).
    auto copy = device.read(address, bs);
    std::copy(layout.super.begin() + kObjectHeaderSize, layout.super.end(), copy.begin() + kObjectHeaderSize);
    if (!device.write(address, copy)) return "can't write the superblock";
  }
  return "";
}

}  // namespace strandel::testing
