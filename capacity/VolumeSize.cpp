// Total, free and used sizes of the file system that holds a path, and the used size of an
// APFS container. The figures come from the machine's statfs; nothing is kept between calls.
#include "capacity/VolumeSize.hpp"

#include <cstdint>

#include "apfs/ApfsContainer.hpp"
#include "capacity/ByteText.hpp"
#include "platform/Machine.hpp"
#include "system/MountLookup.hpp"
#include "text/PathComponents.hpp"

namespace strandel::capacity {
namespace {

std::optional<platform::FsFigures> figuresOf(std::string_view path) {
  // A path is handed to statfs as its bytes, UTF-8 or not, so that any mount point of the host
  // can be measured. A NUL would cut the path short and name another file: such a path names
  // no file at all.
  if (path.find('\0') != std::string_view::npos) return std::nullopt;
  return platform::current()->mountTable().statfs(path);
}

// Block counts are taken as signed 64-bit integers before they become doubles, so a count
// with the top bit set (a broken file system) shows as negative rather than as a huge size.
double countAsDouble(std::uint64_t count) {
  return static_cast<double>(static_cast<std::int64_t>(count));
}

double numberOrZero(const PlistDict& entry, std::string_view key) {
  auto found = entry.find(key);
  if (found == entry.end()) return 0;
  return found->second.asNumber().value_or(0);
}

}  // namespace

std::optional<std::string> containerNameOfDevice(std::string_view device) {
  constexpr std::string_view kDisk = "disk";
  std::string_view last = text::lastPathComponent(device);
  auto disk = last.find(kDisk);
  if (disk == std::string_view::npos) return std::nullopt;
  // The piece between the first "disk" and the next one, then its part before the first "s":
  // disk3s1s1 gives 3.
  std::string_view piece = last.substr(disk + kDisk.size());
  piece = piece.substr(0, piece.find(kDisk));
  piece = piece.substr(0, piece.find('s'));
  std::string name(kDisk);
  name.append(piece);
  return name;
}

double totalSize(std::string_view path) {
  auto figures = figuresOf(path);
  if (!figures) return 0;
  return static_cast<double>(figures->blockSize) * countAsDouble(figures->blocks);
}

double freeSize(std::string_view path) {
  auto figures = figuresOf(path);
  if (!figures) return 0;
  return static_cast<double>(figures->blockSize) * countAsDouble(figures->freeBlocks);
}

double usedSize(std::string_view path) {
  auto figures = figuresOf(path);
  if (!figures) return 0;
  // The difference is taken in unsigned arithmetic and then read as signed, so more free
  // blocks than blocks (a corrupt or synthetic file system) gives a negative used size.
  return static_cast<double>(figures->blockSize) *
         countAsDouble(figures->blocks - figures->freeBlocks);
}

double apfsUsedSize(std::string_view mountPoint) {
  // A path that is not a mount point, or a mount that is not from a disk (a network share, a
  // pseudo file system), has no container to ask for: the disk utility is not run and the
  // answer is the file system's own used size, the same fall-back as for a disk without a
  // container.
  if (auto container = containerNameOfDevice(system::mountFromName(mountPoint))) {
    if (auto entry = apfs::container(*container)) {
      // The used space of the whole container, shared by all its volumes. A key that is
      // missing or is not a number reads as 0.
      return numberOrZero(*entry, "CapacityCeiling") - numberOrZero(*entry, "CapacityFree");
    }
  }
  return usedSize(mountPoint);
}

std::string usedSizeText(std::string_view path) { return bytesText(usedSize(path)); }

std::string totalSizeText(std::string_view path) { return bytesText(totalSize(path)); }

}  // namespace strandel::capacity
