#include "tools/strandel/import/MountTable.hpp"

#include <algorithm>
#include <set>

#include "base/Utf8.hpp"

namespace strandel::importer {
namespace {

PlistValue nameValue(std::string&& bytes) {
  if (base::isValidUtf8(bytes)) return std::move(bytes);
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
  return StatfsFigures{static_cast<std::uint32_t>(blockSize), *total / blockSize,
                       *freeSpace / blockSize};
}

// Figures from the sizes the listings gave a disk without an info file: its own size, or its
// volume's or container's for a snapshot or volume; the free space of its container, or none.
std::optional<StatfsFigures> figuresFromSizes(const DiskMap& disks, std::string bsd,
                                              bool& freeKnown) {
  std::optional<std::uint64_t> total, freeSpace;
  // A snapshot climbs to its volume, a volume to its container: three names at most.
  for (int level = 0; level < 3; ++level) {
    auto disk = disks.find(bsd);
    if (disk != disks.end()) {
      const PlistDict& info = disk->second.info;
      bool apfs =
          disk->second.kind == DiskKind::ApfsVolume || disk->second.kind == DiskKind::ApfsSnapshot;
      if (!total) total = count(info, "TotalSize");
      // An APFS volume's listed Size is the space it takes; its file system spans the container.
      if (!total && !apfs) total = count(info, "Size");
      if (!total) total = count(info, "APFSContainerSize");
      if (!freeSpace) freeSpace = count(info, "FreeSpace");
      if (!freeSpace || *freeSpace == 0) {
        if (auto containerFree = count(info, "APFSContainerFree")) freeSpace = containerFree;
      }
      if (total && freeSpace) break;
      if (disk->second.kind != DiskKind::ApfsVolume && disk->second.kind != DiskKind::ApfsSnapshot)
        break;
    }
    auto parent = bsdParent(bsd);
    if (!parent) break;
    bsd = *parent;
  }
  if (!total || *total == 0) return std::nullopt;
  freeKnown = freeSpace.has_value();
  std::uint64_t freeBytes = std::min(freeSpace.value_or(0), *total);
  return StatfsFigures{4096, *total / 4096, freeBytes / 4096};
}

}  // namespace

std::vector<MountLine> mountLinesFromDisks(const DiskMap& disks, Problems& problems) {
  std::vector<MountLine> lines;
  std::set<std::string, std::less<>> sources;
  // The kernel mounts a snapshot in place of its volume: the volumes whose snapshot is mounted,
  // with the snapshot's mount point.
  std::set<std::pair<std::string, std::string>> snapshotMounts;
  for (const auto& [bsd, facts] : disks) {
    auto point = facts.info.find("MountPoint");
    auto parent = bsdParent(bsd);
    if (parent && bsdNumbers(bsd)->size() >= 3 && point != facts.info.end() &&
        point->second.asString())
      snapshotMounts.emplace(*parent, *point->second.asString());
  }
  for (const auto& [bsd, facts] : disks) {
    auto mountPoint = facts.info.find("MountPoint");
    const std::string* on =
        mountPoint == facts.info.end() ? nullptr : mountPoint->second.asString();
    if (!on || !on->starts_with('/')) continue;
    auto type = facts.info.find("FilesystemType");
    const std::string* fileSystem = type == facts.info.end() ? nullptr : type->second.asString();
    if (!fileSystem || fileSystem->empty()) {
      problems.add(bsd,
                   "mounted at " + *on + " with no file system known; left out of the mount table");
      continue;
    }
    if (snapshotMounts.count({bsd, *on})) continue;
    for (const std::string& source : facts.sources) sources.insert(source);
    MountLine line{"/dev/" + bsd, *on, *fileSystem, {}};
    // The root file system comes first in every mount table.
    if (*on == "/") {
      lines.insert(lines.begin(), std::move(line));
    } else {
      lines.push_back(std::move(line));
    }
  }
  if (!lines.empty()) {
    std::string from;
    for (const std::string& source : sources) {
      if (source != dumpfile::kMount) from += (from.empty() ? "" : ", ") + source;
    }
    problems.guess("Mounts",
                   std::to_string(lines.size()) + " mounts made from the mount points of " + from +
                       " (no recording of mount: the table is a guess, in BSD order with / first)");
  }
  return lines;
}

std::vector<MountLine> readMountLines(std::string_view text, Problems& problems) {
  std::vector<MountLine> mounts;
  // Counted first, so that a table of many thousand lines takes the room it needs and not up
  // to twice that, as growing by doubling would; a count of lines alone could be blank lines.
  const std::vector<std::string_view> lines = textLines(text);
  mounts.reserve(
      static_cast<std::size_t>(std::count_if(lines.begin(), lines.end(), [](std::string_view line) {
        return parseMountLine(line).has_value();
      })));
  // The lines that are no mount, as runs of line numbers: a pasted terminal session brings
  // its prompts and other commands' output, which one line names together.
  std::vector<std::pair<std::size_t, std::size_t>> others;
  std::size_t number = 0;
  for (std::string_view line : lines) {
    ++number;
    if (line.find_first_not_of(" \t") == std::string_view::npos) continue;
    if (auto mount = parseMountLine(line)) {
      mounts.push_back(std::move(*mount));
    } else if (!others.empty() && others.back().second + 1 == number) {
      others.back().second = number;
    } else {
      others.emplace_back(number, number);
    }
  }
  if (others.size() == 1 && others.front().first == others.front().second) {
    problems.add(std::string(dumpfile::kMount) + ":" + std::to_string(others.front().first),
                 "not \"SOURCE on POINT (TYPE, ...)\"; left out");
  } else if (!others.empty()) {
    constexpr std::size_t kRunsNamed = 10;
    std::string runs;
    for (std::size_t i = 0; i < others.size() && i < kRunsNamed; ++i) {
      const auto& [first, last] = others[i];
      runs += (runs.empty() ? "" : ", ") + std::to_string(first) +
              (first == last ? "" : "-" + std::to_string(last));
    }
    if (others.size() > kRunsNamed)
      runs += " and " + std::to_string(others.size() - kRunsNamed) + " runs more";
    problems.add(dumpfile::kMount,
                 "lines " + runs +
                     " are not \"SOURCE on POINT (TYPE, ...)\" (prompts or other output, as a "
                     "pasted terminal session has); left out");
  }
  return mounts;
}

std::vector<HeldMount> mountEntries(std::vector<MountLine> mounts, const Dump& dump,
                                    const DiskMap& disks, Problems& problems) {
  std::vector<HeldMount> out;
  out.reserve(mounts.size());
  for (MountLine& mount : mounts) {
    std::optional<StatfsFigures> figures;
    if (dump.df) {
      if (auto row = findDfRow(*dump.df, mount.from, mount.on)) figures = figuresFromDf(*row);
    }
    if (!figures && mount.from.starts_with("/dev/")) {
      auto disk = disks.find(std::string_view(mount.from).substr(5));
      if (disk != disks.end() && disk->second.hasInfoFile) {
        figures = figuresFromInfo(disk->second.info);
        if (figures && dump.df) {
          problems.add(dumpfile::kDf,
                       "no row for " + mount.on + "; its figures come from diskutil info");
        }
      }
    }
    if (!figures && mount.from.starts_with("/dev/")) {
      bool freeKnown = false;
      figures = figuresFromSizes(disks, mount.from.substr(5), freeKnown);
      if (figures) {
        problems.guess(mount.on,
                       std::string("statfs figures from the size") +
                           (freeKnown ? " and free space" : " (free space unknown, taken as 0)") +
                           " that the listings give its disk");
      }
    }
    if (!figures) {
      // Without df-k.txt at all, one line about the file says it for every mount.
      if (dump.df) problems.add(dumpfile::kDf, "no row for " + mount.on + "; its figures are 0");
      figures = StatfsFigures{4096, 0, 0};
    }
    out.push_back({nameValue(std::move(mount.on)), nameValue(std::move(mount.from)),
                   nameValue(std::move(mount.type)), figures->blockSize, figures->blocks,
                   figures->freeBlocks});
    mount.options = {};
  }
  return out;
}

}  // namespace strandel::importer
