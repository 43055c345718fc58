#include "tools/strandel/import/DiskListText.hpp"

#include <array>
#include <charconv>
#include <cmath>
#include <string>
#include <vector>

#include "text/CharacterClass.hpp"
#include "tools/strandel/import/BsdName.hpp"
#include "tools/strandel/import/MountText.hpp"

namespace strandel::importer {
namespace {

// The types diskutil prints in the TYPE column, so that a type of several words is told from
// the name after it; other types are split from the name at the header's NAME column.
constexpr std::array<std::string_view, 26> kTypes{"GUID_partition_scheme",
                                                  "FDisk_partition_scheme",
                                                  "Apple_partition_scheme",
                                                  "APFS Container Scheme",
                                                  "APFS Volume",
                                                  "APFS Snapshot",
                                                  "EFI",
                                                  "Apple_APFS",
                                                  "Apple_APFS_ISC",
                                                  "Apple_APFS_Recovery",
                                                  "Apple_HFS",
                                                  "Apple_HFSX",
                                                  "Apple_Boot",
                                                  "Apple_CoreStorage",
                                                  "Apple_RAID",
                                                  "Apple_partition_map",
                                                  "Apple_Free",
                                                  "Windows_FAT_32",
                                                  "Windows_FAT_16",
                                                  "Windows_NTFS",
                                                  "DOS_FAT_32",
                                                  "DOS_FAT_16",
                                                  "DOS_FAT_12",
                                                  "Microsoft Basic Data",
                                                  "Microsoft Reserved",
                                                  "Linux Filesystem"};

// From macOS 11 diskutil wraps names in the invisible isolates U+2068 and U+2069.
std::string withoutIsolates(std::string_view line) {
  std::string out;
  out.reserve(line.size());
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line.compare(i, 3, "\xE2\x81\xA8") == 0 || line.compare(i, 3, "\xE2\x81\xA9") == 0) {
      i += 2;
      continue;
    }
    out += line[i];
  }
  return out;
}

// "250.7" and "GB" as bytes, in the decimal units diskutil prints; a leading "+" (a
// container's size) or "*" (a whole disk's) is passed over.
std::optional<std::uint64_t> bytesOf(std::string_view number, std::string_view unit) {
  constexpr std::array<std::pair<std::string_view, double>, 6> kUnits{
      {{"B", 1}, {"KB", 1e3}, {"MB", 1e6}, {"GB", 1e9}, {"TB", 1e12}, {"PB", 1e15}}};
  while (!number.empty() && (number.front() == '+' || number.front() == '*'))
    number.remove_prefix(1);
  double value = 0;
  auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
  if (error != std::errc() || end != number.data() + number.size() || !(value >= 0) || value > 1e6)
    return std::nullopt;
  for (const auto& [name, scale] : kUnits) {
    if (unit == name) return static_cast<std::uint64_t>(std::llround(value * scale));
  }
  return std::nullopt;
}

struct Row {
  std::string type, name, bsd;
  std::uint64_t size = 0;
  bool first = false;  // row 0: the disk itself
};

// Fields of a row: "   N:", the type, the name, the size as a number and a unit, the BSD name.
std::optional<Row> readRow(std::string_view line, std::size_t nameColumn) {
  std::size_t colon = line.find(':');
  std::string_view index = text::trimmed(line.substr(0, colon));
  if (colon == std::string_view::npos || index.empty() ||
      index.find_first_not_of("0123456789") != std::string_view::npos)
    return std::nullopt;
  std::string_view rest = text::trimmed(line.substr(colon + 1));
  std::array<std::string_view, 3> last;  // the BSD name, the unit, the number, from the right
  for (std::string_view& word : last) {
    std::size_t blank = rest.find_last_of(" \t");
    word = blank == std::string_view::npos ? rest : rest.substr(blank + 1);
    rest = text::trimmed(rest.substr(0, blank == std::string_view::npos ? 0 : blank));
  }
  auto size = bytesOf(last[2], last[1]);
  if (!bsdNumbers(last[0]) || !size) return std::nullopt;
  Row row{"", "", std::string(last[0]), *size, index == "0"};
  std::string_view type;
  for (std::string_view known : kTypes) {
    if (rest.starts_with(known) &&
        (rest.size() == known.size() || text::isBlank(rest[known.size()])) &&
        known.size() > type.size())
      type = known;
  }
  std::string_view name;
  if (!type.empty()) {
    name = text::trimmed(rest.substr(type.size()));
  } else {
    std::size_t restStart = static_cast<std::size_t>(rest.data() - line.data());
    std::size_t split = nameColumn > restStart ? nameColumn - restStart : 0;
    type = text::trimmed(rest.substr(0, std::min(split, rest.size())));
    if (split < rest.size()) name = text::trimmed(rest.substr(split));
  }
  row.type = std::string(type);
  // "-" is no name, and "Container disk2" names the container a partition holds.
  if (name != "-" && !name.starts_with("Container disk")) row.name = std::string(name);
  return row;
}

PlistDict partitionOf(const Row& row) {
  PlistDict entry{{"Content", PlistValue(row.type)},
                  {"DeviceIdentifier", PlistValue(row.bsd)},
                  {"Size", PlistValue(row.size)}};
  if (!row.name.empty()) entry["VolumeName"] = row.name;
  return entry;
}

}  // namespace

std::optional<PlistDict> diskListFromText(std::string_view text) {
  PlistArray wholes;
  std::size_t nameColumn = std::string_view::npos;
  bool container = false;
  for (std::string_view raw : textLines(text)) {
    std::string line = withoutIsolates(raw);
    std::string_view view = line;
    // A section: "/dev/disk0 (internal, physical):".
    if (view.starts_with("/dev/disk") && view.ends_with("):")) {
      std::size_t open = view.find(" (");
      if (open == std::string_view::npos || !bsdNumbers(view.substr(5, open - 5))) continue;
      PlistDict whole{{"DeviceIdentifier", PlistValue(std::string(view.substr(5, open - 5)))}};
      std::string_view flags = view.substr(open + 2, view.size() - open - 4);
      if (flags.find("internal") != std::string_view::npos) whole["Internal"] = true;
      if (flags.find("external") != std::string_view::npos) whole["Internal"] = false;
      if (flags.find("disk image") != std::string_view::npos)
        whole["BusProtocol"] = std::string("Disk Image");
      wholes.emplace_back(std::move(whole));
      nameColumn = std::string_view::npos;
      container = false;
      continue;
    }
    if (wholes.empty()) continue;
    PlistDict& whole = *wholes.back().asDictionary();
    if (view.find("#:") != std::string_view::npos &&
        view.find("IDENTIFIER") != std::string_view::npos) {
      nameColumn = view.find("NAME");
      continue;
    }
    std::string_view inner = text::trimmed(view);
    if (inner.starts_with("Physical Store")) {
      PlistArray stores;
      std::string_view names = inner.substr(
          inner.find(' ', 9) == std::string_view::npos ? inner.size() : inner.find(' ', 9));
      while (!names.empty()) {
        names = text::trimmed(names);
        std::size_t end = names.find_first_of(", ");
        std::string_view store = names.substr(0, end);
        if (bsdNumbers(store))
          stores.emplace_back(PlistDict{{"DeviceIdentifier", PlistValue(std::string(store))}});
        names = end == std::string_view::npos ? std::string_view() : names.substr(end + 1);
      }
      if (!stores.empty()) whole["APFSPhysicalStores"] = std::move(stores);
      continue;
    }
    auto row = readRow(view, nameColumn);
    if (!row) continue;
    if (row->first) {
      container = row->type == "APFS Container Scheme";
      whole["Content"] = container ? std::string() : row->type;
      whole["Size"] = row->size;
      if (!row->name.empty()) whole["VolumeName"] = row->name;
      continue;
    }
    if (container && row->type == "APFS Snapshot") continue;
    if (container && row->type == "APFS Volume") {
      PlistDict volume{{"DeviceIdentifier", PlistValue(row->bsd)}};
      if (!row->name.empty()) volume["VolumeName"] = row->name;
      if (!whole.count("APFSVolumes")) whole["APFSVolumes"] = PlistArray{};
      whole["APFSVolumes"].asArray()->emplace_back(std::move(volume));
      continue;
    }
    if (!whole.count("Partitions")) whole["Partitions"] = PlistArray{};
    whole["Partitions"].asArray()->emplace_back(partitionOf(*row));
  }
  if (wholes.empty()) return std::nullopt;
  return PlistDict{{"AllDisksAndPartitions", PlistValue(std::move(wholes))}};
}

}  // namespace strandel::importer
