#include "tools/strandel/import/MountTable.hpp"

#include "plist/Utf8.hpp"

namespace strandel::importer {
namespace {

PlistValue nameValue(const std::string& bytes) {
  if (isValidUtf8(bytes)) return bytes;
  return PlistData{std::vector<std::uint8_t>(bytes.begin(), bytes.end())};
}

std::optional<std::uint64_t> count(const PlistDict& info, std::string_view key) {
  auto it = info.find(key);
  if (it == info.end()) return std::nullopt;
  if (auto u = it->second.asUnsignedInteger()) return *u;
  if (auto i = it->second.asInteger(); i && *i >= 0) return static_cast<std::uint64_t>(*i);
  return std::nullopt;
}

// Figures from diskutil info: what statfs would roughly say when df printed no row. An APFS
// volume reports FreeSpace 0 and shares its container's free space, which is taken instead.
std::optional<StatfsFigures> figuresFromInfo(const PlistDict& info) {
  auto total = count(info, "TotalSize");
  if (!total) total = count(info, "Size");
  auto freeSpace = count(info, "FreeSpace");
  if (!freeSpace || *freeSpace == 0) {
    if (auto containerFree = count(info, "APFSContainerFree")) freeSpace = containerFree;
  }
  if (!total || !freeSpace) return std::nullopt;
  std::uint64_t blockSize = count(info, "VolumeAllocationBlockSize").value_or(4096);
  if (blockSize == 0 || blockSize > UINT32_MAX) blockSize = 4096;
  return StatfsFigures{static_cast<std::uint32_t>(blockSize), *total / blockSize, *freeSpace / blockSize};
}

}  // namespace

std::vector<MountLine> readMountLines(std::string_view text, Problems& problems) {
  std::vector<MountLine> mounts;
  std::size_t number = 0;
  for (std::string_view line : textLines(text)) {
    ++number;
    if (line.find_first_not_of(" \t") == std::string_view::npos) continue;
    if (auto mount = parseMountLine(line)) {
      mounts.push_back(std::move(*mount));
    } else {
      problems.add(std::string(dumpfile::kMount) + ":" + std::to_string(number),
                   "not \"SOURCE on POINT (TYPE, ...)\"; left out");
    }
  }
  return mounts;
}

PlistArray mountEntries(const std::vector<MountLine>& mounts, const Dump& dump, const DiskMap& disks,
                        Problems& problems) {
  PlistArray out;
  for (const MountLine& mount : mounts) {
    std::optional<StatfsFigures> figures;
    if (dump.df) {
      if (auto row = findDfRow(*dump.df, mount.from, mount.on)) figures = figuresFromDf(*row);
    }
    if (!figures && mount.from.starts_with("/dev/")) {
      auto disk = disks.find(std::string_view(mount.from).substr(5));
      if (disk != disks.end() && disk->second.hasInfoFile) {
        figures = figuresFromInfo(disk->second.info);
        if (figures && dump.df) {
          problems.add(dumpfile::kDf, "no row for " + mount.on + "; its figures come from diskutil info");
        }
      }
    }
    if (!figures) {
      // Without df-k.txt at all, one line about the file says it for every mount.
      if (dump.df) problems.add(dumpfile::kDf, "no row for " + mount.on + "; its figures are 0");
      figures = StatfsFigures{4096, 0, 0};
    }
    PlistDict entry;
    entry["f_mntonname"] = nameValue(mount.on);
    entry["f_mntfromname"] = nameValue(mount.from);
    entry["f_fstypename"] = nameValue(mount.type);
    entry["f_bsize"] = static_cast<std::int64_t>(figures->blockSize);
    entry["f_blocks"] = figures->blocks;
    entry["f_bfree"] = figures->freeBlocks;
    out.push_back(std::move(entry));
  }
  return out;
}

}  // namespace strandel::importer
