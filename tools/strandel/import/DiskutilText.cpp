#include "tools/strandel/import/DiskutilText.hpp"

#include <array>
#include <charconv>
#include <string>

#include "text/CharacterClass.hpp"
#include "tools/strandel/import/BsdName.hpp"
#include "tools/strandel/import/MountText.hpp"

namespace strandel::importer {
namespace {

// "Label:   value" split at its first colon; nothing for a line without one or a label that
// is no label (blank, or longer than any diskutil prints).
std::optional<std::pair<std::string_view, std::string_view>> labelled(std::string_view line) {
  std::size_t colon = line.find(':');
  if (colon == std::string_view::npos) return std::nullopt;
  std::string_view label = text::trimmed(line.substr(0, colon));
  if (label.empty() || label.size() > 48) return std::nullopt;
  return std::make_pair(label, text::trimmed(line.substr(colon + 1)));
}

std::optional<std::uint64_t> whole(std::string_view text) {
  std::uint64_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

// The exact byte count of a size as diskutil prints it: "245.1 GB (245107195904 Bytes) (exactly
// ...)" or, in the APFS listing, "245107195904 B (245.1 GB)"; "4096 Bytes" alone too.
std::optional<std::uint64_t> byteCount(std::string_view value) {
  if (std::size_t open = value.find('('); open != std::string_view::npos) {
    std::size_t bytes = value.find(" Bytes)", open);
    if (bytes != std::string_view::npos) {
      if (auto n = whole(value.substr(open + 1, bytes - open - 1))) return n;
    }
  }
  std::size_t blank = value.find(' ');
  if (blank == std::string_view::npos) return std::nullopt;
  std::string_view unit = value.substr(blank + 1);
  if (!unit.starts_with("B") || (unit.size() > 1 && unit != "Bytes" && !unit.starts_with("B (")))
    return std::nullopt;
  return whole(value.substr(0, blank));
}

std::optional<bool> yesNo(std::string_view value) {
  if (value.starts_with("Yes")) return true;
  if (value.starts_with("No")) return false;
  return std::nullopt;
}

// diskutil info's printed labels and the -plist keys they stand for.
enum class As { Text, Flag, Bytes };
struct InfoLabel {
  std::string_view label, key;
  As as;
};
constexpr std::array<InfoLabel, 30> kInfoLabels{{
    {"Device Identifier", "DeviceIdentifier", As::Text},
    {"Device Node", "DeviceNode", As::Text},
    {"Whole", "WholeDisk", As::Flag},
    {"Part of Whole", "ParentWholeDisk", As::Text},
    {"Device / Media Name", "MediaName", As::Text},
    {"Volume Name", "VolumeName", As::Text},
    {"Mount Point", "MountPoint", As::Text},
    {"Partition Type", "Content", As::Text},
    {"Content (IOContent)", "Content", As::Text},
    {"File System Personality", "FilesystemName", As::Text},
    {"Type (Bundle)", "FilesystemType", As::Text},
    {"Name (User Visible)", "FilesystemUserVisibleName", As::Text},
    {"Media Type", "MediaType", As::Text},
    {"Protocol", "BusProtocol", As::Text},
    {"Volume UUID", "VolumeUUID", As::Text},
    {"Disk / Partition UUID", "DiskUUID", As::Text},
    {"Disk Size", "Size", As::Bytes},
    {"Total Size", "TotalSize", As::Bytes},
    {"Volume Free Space", "FreeSpace", As::Bytes},
    {"Volume Available Space", "FreeSpace", As::Bytes},
    {"Device Block Size", "DeviceBlockSize", As::Bytes},
    {"Allocation Block Size", "VolumeAllocationBlockSize", As::Bytes},
    {"Container Total Space", "APFSContainerSize", As::Bytes},
    {"Container Free Space", "APFSContainerFree", As::Bytes},
    {"Solid State", "SolidState", As::Flag},
    {"Ejectable", "Ejectable", As::Flag},
    {"APFS Container", "APFSContainerReference", As::Text},
    {"APFS Volume Group", "APFSVolumeGroupID", As::Text},
    {"APFS Snapshot", "APFSSnapshot", As::Flag},
    {"APFS Snapshot UUID", "APFSSnapshotUUID", As::Text},
}};

void putInfo(PlistDict& info, std::string_view label, std::string_view value) {
  if (label == "Mounted") {
    if (value.starts_with("No")) info["MountPoint"] = std::string();
    return;
  }
  if (label == "Device Location") {
    if (value == "Internal" || value == "External") info["Internal"] = value == "Internal";
    return;
  }
  if (label == "Removable Media") {
    if (value == "Fixed" || value == "Removable") info["RemovableMedia"] = value == "Removable";
    return;
  }
  if (label == "APFS Physical Store") {
    if (bsdNumbers(std::string(value)))
      info["APFSPhysicalStores"] =
          PlistArray{PlistValue(PlistDict{{"APFSPhysicalStore", PlistValue(std::string(value))}})};
    return;
  }
  for (const InfoLabel& known : kInfoLabels) {
    if (known.label != label) continue;
    std::string key(known.key);
    switch (known.as) {
      case As::Text:
        // "Not applicable (no file system)" and the like say there is none.
        if (!value.starts_with("Not applicable") && !info.count(key))
          info[key] = std::string(value);
        break;
      case As::Flag:
        if (auto flag = yesNo(value)) info[key] = *flag;
        break;
      case As::Bytes:
        if (auto bytes = byteCount(value)) info[key] = *bytes;
        break;
    }
    return;
  }
}

// The lines of an apfs list, without the tree drawn before them.
std::string_view untreed(std::string_view line) {
  std::size_t start = line.find_first_not_of(" |+-<>=\t");
  return start == std::string_view::npos ? std::string_view() : line.substr(start);
}

std::string_view firstWord(std::string_view text) { return text.substr(0, text.find(' ')); }

PlistDict* lastDict(PlistArray& array) {
  return array.empty() ? nullptr : array.back().asDictionary();
}

}  // namespace

std::vector<PlistDict> infoFromText(std::string_view text) {
  std::vector<PlistDict> disks;
  PlistDict* current = nullptr;
  for (std::string_view line : textLines(text)) {
    auto pair = labelled(line);
    if (!pair) continue;
    auto [label, value] = *pair;
    if (label == "Device Identifier") {
      if (!bsdNumbers(std::string(value))) {
        current = nullptr;
        continue;
      }
      current = &disks.emplace_back();
    }
    if (current) putInfo(*current, label, value);
  }
  return disks;
}

std::optional<PlistDict> apfsListFromText(std::string_view text) {
  PlistArray containers;
  enum class In { Nothing, Container, Store, Volume, Group } in = In::Nothing;
  PlistDict pendingContainer;  // a container's header, until its reference is read
  for (std::string_view raw : textLines(text)) {
    std::string_view line = untreed(raw);
    if (line.starts_with("Container ")) {
      in = In::Container;
      pendingContainer = PlistDict{};
      std::string_view rest = line.substr(10);
      std::size_t blank = rest.find(' ');
      if (blank != std::string_view::npos)
        pendingContainer["APFSContainerUUID"] = std::string(text::trimmed(rest.substr(blank + 1)));
      continue;
    }
    if (line.starts_with("Volume Group")) {
      in = In::Group;
      continue;
    }
    PlistDict* container = in == In::Nothing || in == In::Group ? nullptr : lastDict(containers);
    if (line.starts_with("Physical Store ")) {
      in = container ? In::Store : In::Nothing;
      if (container) (*container)["PhysicalStores"].asArray()->emplace_back(PlistDict{});
      continue;
    }
    if (line.starts_with("Volume ")) {
      in = container ? In::Volume : In::Nothing;
      if (!container) continue;
      PlistDict volume;
      std::string_view rest = line.substr(7);
      std::size_t blank = rest.find(' ');
      if (blank != std::string_view::npos)
        volume["APFSVolumeUUID"] = std::string(text::trimmed(rest.substr(blank + 1)));
      (*container)["Volumes"].asArray()->emplace_back(std::move(volume));
      continue;
    }
    auto pair = labelled(line);
    if (!pair) continue;
    auto [label, value] = *pair;
    if (in == In::Container && label == "APFS Container Reference") {
      std::string reference(firstWord(value));
      if (!bsdNumbers(reference)) continue;
      // A container listed twice (its volume groups come after it) is the same container.
      bool seen = false;
      for (const PlistValue& c : containers)
        seen = seen || (c.find("ContainerReference") &&
                        *c.find("ContainerReference") == PlistValue(reference));
      if (seen) {
        in = In::Group;
        continue;
      }
      PlistDict made = std::move(pendingContainer);
      made["ContainerReference"] = reference;
      made["PhysicalStores"] = PlistArray{};
      made["Volumes"] = PlistArray{};
      containers.emplace_back(std::move(made));
      continue;
    }
    if (!container) continue;
    if (in == In::Container) {
      if (label == "Size (Capacity Ceiling)") {
        if (auto bytes = byteCount(value)) (*container)["CapacityCeiling"] = *bytes;
      } else if (label == "Capacity Not Allocated") {
        if (auto bytes = byteCount(value)) (*container)["CapacityFree"] = *bytes;
      }
    } else if (in == In::Store) {
      PlistDict* store = lastDict(*(*container)["PhysicalStores"].asArray());
      if (!store) continue;
      if (label == "APFS Physical Store Disk" && bsdNumbers(std::string(value))) {
        (*store)["DeviceIdentifier"] = std::string(value);
        if (!container->count("DesignatedPhysicalStore"))
          (*container)["DesignatedPhysicalStore"] = std::string(value);
      } else if (label == "Size") {
        if (auto bytes = byteCount(value)) (*store)["Size"] = *bytes;
      }
    } else if (in == In::Volume) {
      PlistDict* volume = lastDict(*(*container)["Volumes"].asArray());
      if (!volume) continue;
      if (label.starts_with("APFS Volume Disk")) {
        // "disk3s1 (System)" from macOS 10.15; "disk1s1" alone before; "No specific role".
        std::string bsd(firstWord(value));
        if (bsdNumbers(bsd)) (*volume)["DeviceIdentifier"] = bsd;
        std::size_t open = value.find('(');
        std::size_t close = value.rfind(')');
        PlistArray roles;
        if (open != std::string_view::npos && close != std::string_view::npos && close > open + 1) {
          std::string_view role = value.substr(open + 1, close - open - 1);
          if (role != "No specific role") roles.emplace_back(std::string(role));
        }
        (*volume)["Roles"] = std::move(roles);
      } else if (label == "Name") {
        // "Macintosh HD (Case-insensitive)": the name, then the case rule.
        std::string_view name = value;
        for (std::string_view rule :
             {std::string_view(" (Case-insensitive)"), std::string_view(" (Case-sensitive)")}) {
          if (name.ends_with(rule)) name.remove_suffix(rule.size());
        }
        (*volume)["Name"] = std::string(name);
      } else if (label == "Mount Point") {
        if (value.starts_with('/')) (*volume)["MountPoint"] = std::string(value);
      } else if (label == "Capacity Consumed") {
        if (auto bytes = byteCount(value)) (*volume)["CapacityInUse"] = *bytes;
      } else if (label == "Snapshot" || label == "Snapshot Disk" ||
                 label == "Snapshot Mount Point") {
        PlistValue& snapshots = (*volume)["MountedSnapshots"];
        if (!snapshots.asArray()) snapshots = PlistArray{PlistValue(PlistDict{})};
        PlistDict& snapshot = *snapshots.asArray()->front().asDictionary();
        if (label == "Snapshot") snapshot["SnapshotUUID"] = std::string(value);
        if (label == "Snapshot Disk" && bsdNumbers(std::string(value)))
          snapshot["SnapshotBSD"] = std::string(value);
        if (label == "Snapshot Mount Point" && value.starts_with('/'))
          snapshot["SnapshotMountPoint"] = std::string(value);
      }
    }
  }
  if (containers.empty()) return std::nullopt;
  return PlistDict{{"Containers", PlistValue(std::move(containers))}};
}

}  // namespace strandel::importer
