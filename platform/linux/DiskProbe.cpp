#include "platform/linux/DiskProbe.hpp"

#include <blkid/blkid.h>
#include <fcntl.h>
#include <unistd.h>

#include <memory>

#include "base/Handles.hpp"
#include "base/Utf8.hpp"
#include "text/CharacterClass.hpp"

namespace strandel::platform::live {
namespace {

struct ProbeTraits {
  static blkid_probe invalid() noexcept { return nullptr; }
  static void free(blkid_probe probe) noexcept { blkid_free_probe(probe); }
};
using Probe = base::ScopedGeneric<blkid_probe, ProbeTraits>;

std::string upper(const char* text) { return text::asciiUppercased(text ? text : ""); }

// Labels and names are the disk's bytes: text that is not UTF-8 is read as Latin-1, so every
// name the registry holds is text.
std::string text(std::string_view bytes) {
  bytes = bytes.substr(0, bytes.find('\0'));
  return base::isValidUtf8(bytes) ? std::string(bytes) : base::decodeLatin1(bytes);
}

std::string value(blkid_probe probe, const char* name) {
  const char* data = nullptr;
  std::size_t length = 0;
  if (blkid_probe_lookup_value(probe, name, &data, &length) != 0 || !data) return "";
  return text(std::string_view(data, length));
}

// The file system in the byte range `offset`, `size` of the open disk; nothing when libblkid
// finds none (or finds two that contradict each other).
std::optional<ProbedFileSystem> probeFileSystem(int fd, std::uint64_t offset, std::uint64_t size) {
  Probe probe(blkid_new_probe());
  if (!probe || blkid_probe_set_device(probe.get(), fd, static_cast<blkid_loff_t>(offset),
                                       static_cast<blkid_loff_t>(size)) != 0)
    return std::nullopt;
  blkid_probe_enable_superblocks(probe.get(), 1);
  blkid_probe_set_superblocks_flags(probe.get(), BLKID_SUBLKS_TYPE | BLKID_SUBLKS_LABEL |
                                                     BLKID_SUBLKS_UUID | BLKID_SUBLKS_VERSION);
  blkid_probe_enable_partitions(probe.get(), 0);
  if (blkid_do_safeprobe(probe.get()) != 0) return std::nullopt;
  ProbedFileSystem found{value(probe.get(), "TYPE"), value(probe.get(), "VERSION"),
                         value(probe.get(), "LABEL"), upper(value(probe.get(), "UUID").c_str())};
  if (found.type.empty()) return std::nullopt;
  return found;
}

std::optional<apfsdisk::Container> readApfs(const std::shared_ptr<const apfsdisk::ByteSource>& disk,
                                            std::uint64_t offset, std::uint64_t size) {
  auto slice = apfsdisk::sliceSource(disk, offset, size);
  if (!slice || !apfsdisk::looksLikeContainer(*slice)) return std::nullopt;
  return apfsdisk::readContainer(*slice).container;
}

}  // namespace

std::optional<ProbedDisk> probeDisk(const std::string& path) {
  base::UniqueFd fd(base::retryAfterSignal(
      [&] { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK); }));
  std::shared_ptr<const apfsdisk::ByteSource> source = apfsdisk::openFileSource(path);
  if (!fd || !source) return std::nullopt;
  const std::uint64_t size = source->size();

  ProbedDisk disk;
  Probe probe(blkid_new_probe());
  if (!probe ||
      blkid_probe_set_device(probe.get(), fd.get(), 0, static_cast<blkid_loff_t>(size)) != 0)
    return disk;
  blkid_probe_enable_superblocks(probe.get(), 0);
  blkid_probe_enable_partitions(probe.get(), 1);
  blkid_probe_set_partitions_flags(probe.get(), BLKID_PARTS_ENTRY_DETAILS);
  blkid_partlist list =
      blkid_do_safeprobe(probe.get()) == 0 ? blkid_probe_get_partitions(probe.get()) : nullptr;
  blkid_parttable table = list ? blkid_partlist_get_table(list) : nullptr;
  if (!table) {
    disk.fileSystem = probeFileSystem(fd.get(), 0, size);
    disk.container = readApfs(source, 0, size);
    return disk;
  }
  disk.scheme = blkid_parttable_get_type(table) ? blkid_parttable_get_type(table) : "";
  disk.tableUuid = upper(blkid_parttable_get_id(table));
  const int count = blkid_partlist_numof_partitions(list);
  for (int i = 0; i < count; ++i) {
    blkid_partition part = blkid_partlist_get_partition(list, i);
    if (!part) continue;
    // Offsets and sizes come in 512-byte sectors; a partition that reaches past the disk is
    // kept but read only as far as the disk goes.
    const auto start = static_cast<std::uint64_t>(blkid_partition_get_start(part));
    const auto sectors = static_cast<std::uint64_t>(blkid_partition_get_size(part));
    if (start > size / 512 || sectors > UINT64_MAX / 512) continue;
    ProbedPartition p;
    p.number = blkid_partition_get_partno(part);
    p.offset = start * 512;
    p.size = std::min(sectors * 512, size - p.offset);
    if (disk.scheme == "gpt") {
      p.content = upper(blkid_partition_get_type_string(part));
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "%02X",
                    static_cast<unsigned>(blkid_partition_get_type(part)) & 0xFF);
      p.content = hex;
    }
    p.name = blkid_partition_get_name(part) ? text(blkid_partition_get_name(part)) : "";
    p.uuid = upper(blkid_partition_get_uuid(part));
    // An extended MBR partition only holds the logical ones, which are listed on their own.
    if (blkid_partition_is_extended(part)) continue;
    p.fileSystem = probeFileSystem(fd.get(), p.offset, p.size);
    if (p.content == kApfsPartitionType || (p.fileSystem && p.fileSystem->type == "apfs"))
      p.container = readApfs(source, p.offset, p.size);
    disk.partitions.push_back(std::move(p));
  }
  return disk;
}

}  // namespace strandel::platform::live
