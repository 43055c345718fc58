#include "tools/strandel/import/DiskGuesses.hpp"

#include <algorithm>
#include <array>
#include <map>
#include <optional>
#include <set>

#include "plist/DictEntry.hpp"

namespace strandel::importer {
namespace {

// The system's own mount points from 10.13 on: the role of the volume there and the name the
// system gives it ("" where the name is the owner's: the Data volume takes the System's).
struct SystemMount {
  std::string_view path, role, name;
};
constexpr std::array<SystemMount, 8> kSystemMounts{{
    {"/System/Volumes/Data", "Data", ""},
    {"/System/Volumes/Preboot", "Preboot", "Preboot"},
    {"/System/Volumes/VM", "VM", "VM"},
    {"/private/var/vm", "VM", "VM"},
    {"/System/Volumes/Update", "Update", "Update"},
    {"/System/Volumes/xarts", "xART", "xART"},
    {"/System/Volumes/iSCPreboot", "Preboot", "iSCPreboot"},
    {"/System/Volumes/Hardware", "Hardware", "Hardware"},
}};

// The name the installer gives the System volume.
constexpr std::string_view kInstallerName = "Macintosh HD";

// The System volume's name in the name of its Data volume: "Macintosh HD - Data" and, on some
// systems, "Macintosh HD — Data" (an em dash).
std::optional<std::string> systemNameOfData(std::string_view name) {
  for (std::string_view suffix :
       {std::string_view(" - Data"), std::string_view(" \xE2\x80\x94 Data")}) {
    if (name.size() > suffix.size() && name.ends_with(suffix))
      return std::string(name.substr(0, name.size() - suffix.size()));
  }
  return std::nullopt;
}

// Xcode mounts each simulator runtime's disk image below this folder.
constexpr std::string_view kSimulatorMounts = "/Library/Developer/CoreSimulator/";

bool has(const PlistDict& dict, std::string_view key) { return dict.find(key) != dict.end(); }

std::string inQuotes(std::string_view text) { return "\"" + std::string(text) + "\""; }

// An APFS volume (not a snapshot, not a container), by what any recording says of it.
bool isApfsVolume(const std::string& bsd, const DiskFacts& facts) {
  auto numbers = bsdNumbers(bsd);
  if (!numbers || numbers->size() != 2) return false;
  if (facts.kind) return *facts.kind == DiskKind::ApfsVolume;
  const std::string* fileSystem = plist::stringAt(facts.info, "FilesystemType");
  const std::string* content = plist::stringAt(facts.info, "Content");
  return (fileSystem && *fileSystem == "apfs") || (content && *content == kApfsVolumeContent);
}

// The file system a partition holds by the type diskutil lists for it; "" when the type
// says nothing sure (Microsoft Basic Data holds FAT, exFAT or NTFS alike).
std::string_view kindOfContent(std::string_view content) {
  if (content.starts_with("DOS_FAT_") || content.starts_with("Windows_FAT_") || content == "EFI" ||
      content == "C12A7328-F81F-11D2-BA4B-00A0C93EC93B")
    return "msdos";
  if (content == "Apple_HFS" || content == "Apple_HFSX" ||
      content == "48465300-0000-11AA-AA11-00306543ECAC")
    return "hfs";
  return "";
}

// The name diskutil info shows for a file system (FilesystemUserVisibleName).
std::string_view userVisibleName(std::string_view kind, std::string_view content, bool journaled) {
  if (kind == "apfs") return "APFS";
  if (kind == "exfat") return "ExFAT";
  if (kind == "hfs") return journaled ? "Mac OS Extended (Journaled)" : "Mac OS Extended";
  if (kind == "msdos") {
    if (content.ends_with("FAT_12")) return "MS-DOS (FAT12)";
    if (content.ends_with("FAT_16")) return "MS-DOS (FAT16)";
    // FAT32 is what sticks, cards and EFI partitions carry.
    return "MS-DOS (FAT32)";
  }
  return "";
}

class LayoutGuesser {
 public:
  explicit LayoutGuesser(DiskMap& disks) : disks_(disks) {}

  void fromMounts(const std::vector<MountLine>& mounts) {
    std::set<std::string, std::less<>> seen;
    for (const MountLine& mount : mounts) {
      if (!mount.from.starts_with("/dev/")) continue;
      std::string bsd = mount.from.substr(5);
      auto numbers = bsdNumbers(bsd);
      // A device mounted twice is described by the mount the table lists first.
      if (!numbers || !seen.insert(bsd).second || !disks_.count(bsd)) continue;
      options_[bsd] = mount.options;
      // APFS names have two parts (a volume) or three (a snapshot of one).
      if (mount.type == "apfs" && (numbers->size() == 2 || numbers->size() == 3))
        apfsMount(bsd, numbers->size());
      if (mount.on.starts_with(kSimulatorMounts)) simulator(bsd, mount.on);
    }
  }

  // File systems and their names where only the listing's Content or the mount tells.
  void fileSystems() {
    for (auto& [bsd, facts] : disks_) {
      // What diskutil info leaves out of its answer, the service leaves out too.
      if (facts.hasInfoFile) continue;
      // Texts copied out: filling the dictionary below may move its entries.
      const std::string* contentText = plist::stringAt(facts.info, "Content");
      const std::optional<std::string> content =
          contentText ? std::optional<std::string>(*contentText) : std::nullopt;
      if (!has(facts.info, "FilesystemType") && content && facts.kind != DiskKind::ApfsContainer) {
        if (std::string_view kind = kindOfContent(*content); !kind.empty()) {
          fill(facts.info, "FilesystemType", std::string(kind));
          facts.guesses.push_back("file system " + std::string(kind) + " (Content " + *content +
                                  ")");
        }
      }
      const std::string* kindText = plist::stringAt(facts.info, "FilesystemType");
      const std::optional<std::string> kind =
          kindText ? std::optional<std::string>(*kindText) : std::nullopt;
      if (!kind || has(facts.info, "FilesystemUserVisibleName") ||
          has(facts.info, "FilesystemName"))
        continue;
      auto options = options_.find(bsd);
      // An HFS+ volume that is not mounted is taken as journaled, as Disk Utility makes them.
      bool journaled = options == options_.end() ||
                       std::find(options->second.begin(), options->second.end(), "journaled") !=
                           options->second.end();
      std::string_view name = userVisibleName(
          *kind, content ? std::string_view(*content) : std::string_view(), journaled);
      if (name.empty()) continue;
      fill(facts.info, "FilesystemUserVisibleName", std::string(name));
      facts.guesses.push_back(
          "volume type " + inQuotes(name) + " (file system " + *kind +
          (content && *kind == "msdos" ? ", Content " + *content : std::string()) + ")");
    }
  }

  // The roles and names of the system's own mount points, from whichever recording gives the
  // mount point (mount, a listing's MountPoint, an info file).
  void systemMounts() {
    for (auto& [bsd, facts] : disks_) {
      const std::string* pointText = plist::stringAt(facts.info, "MountPoint");
      if (!pointText || !isApfsVolume(bsd, facts)) continue;
      // Copied: naming the volume below may move the dictionary's entries.
      const std::optional<std::string> point(*pointText);
      for (const SystemMount& system : kSystemMounts) {
        if (*point != system.path) continue;
        role(facts, system.role, "mounted at " + *point);
        if (!system.name.empty() && !has(facts.info, "VolumeName")) {
          facts.info["VolumeName"] = std::string(system.name);
          facts.guesses.push_back("named " + inQuotes(system.name) +
                                  ", as the system names the volume at " + *point);
        }
      }
    }
  }

  // From macOS 10.15 the installer names the Data volume after its System volume, in the same
  // container: a listing without roles (the text form) still shows the pair by name.
  void namedPairs() {
    std::map<std::pair<std::string, std::string>, std::string>
        byName;  // (container, name) -> volume
    for (const auto& [bsd, facts] : disks_) {
      const std::string* name = plist::stringAt(facts.info, "VolumeName");
      if (name && isApfsVolume(bsd, facts))
        byName.emplace(std::make_pair(bsdWhole(bsd), *name), bsd);
    }
    for (const auto& [key, bsd] : byName) {
      const std::string& name = key.second;
      std::optional<std::string> system = systemNameOfData(name);
      if (!system) continue;
      auto pair = byName.find({key.first, *system});
      if (pair == byName.end()) continue;
      role(disks_[bsd], "Data",
           "named " + inQuotes(name) + ", after " + pair->second + " " + inQuotes(*system) +
               " of its container");
      role(disks_[pair->second], "System", "the Data volume " + bsd + " is named after it");
    }
  }

  // From macOS 11 the system runs from a sealed snapshot of its System volume. Only the
  // snapshot is mounted: the volume keeps no mount point of its own, as the service reports it.
  void systemVolume() {
    for (const auto& [bsd, facts] : disks_) {
      const std::string* point = plist::stringAt(facts.info, "MountPoint");
      auto numbers = bsdNumbers(bsd);
      if (point && *point == "/" && numbers && numbers->size() >= 3)
        role(disk(*bsdParent(bsd)), "System", "its snapshot is mounted at /");
    }
    // From macOS 10.15 the volume at / is the System half of a volume group whose Data half
    // is in the same container.
    std::set<std::string, std::less<>> dataContainers;
    for (const auto& [bsd, facts] : disks_) {
      if (!facts.roles.empty() && facts.roles.front() == "Data")
        dataContainers.insert(bsdWhole(bsd));
    }
    for (auto& [bsd, facts] : disks_) {
      const std::string* point = plist::stringAt(facts.info, "MountPoint");
      const std::string* fileSystem = plist::stringAt(facts.info, "FilesystemType");
      auto numbers = bsdNumbers(bsd);
      if (point && *point == "/" && fileSystem && *fileSystem == "apfs" && numbers &&
          numbers->size() == 2 && dataContainers.count(bsdWhole(bsd)))
        role(facts, "System", "mounted at / beside a Data volume of its container");
    }
  }

  // The installer names the volume the Mac runs from "Macintosh HD" and its Data volume after
  // it; a recording that names neither (mount alone) gets the names the Mac most likely shows.
  void systemNames() {
    std::map<std::string, std::string> systemNames;  // container -> the System volume's name
    for (auto& [bsd, facts] : disks_) {
      bool system = !facts.roles.empty() && facts.roles.front() == "System";
      const std::string* point = plist::stringAt(facts.info, "MountPoint");
      auto numbers = bsdNumbers(bsd);
      bool root = point && *point == "/" && numbers && numbers->size() <= 2;
      if (!system && !root) continue;
      if (!has(facts.info, "VolumeName")) {
        facts.info["VolumeName"] = std::string(kInstallerName);
        facts.guesses.push_back("named " + inQuotes(kInstallerName) +
                                ", the name the installer gives the volume the Mac runs from");
      }
      if (!system) continue;
      if (const std::string* name = plist::stringAt(facts.info, "VolumeName"))
        systemNames.emplace(bsdWhole(bsd), *name);
    }
    for (auto& [bsd, facts] : disks_) {
      if (facts.roles.empty() || facts.roles.front() != "Data" || has(facts.info, "VolumeName"))
        continue;
      auto system = systemNames.find(bsdWhole(bsd));
      if (system == systemNames.end()) continue;
      std::string name = system->second + " - Data";
      facts.info["VolumeName"] = name;
      facts.guesses.push_back("named " + inQuotes(name) +
                              ", as the installer names the Data volume after its System volume");
    }
  }

  // diskutil list's OSInternal marks the disks of the Mac's own storage.
  void osInternal() {
    for (auto& [bsd, facts] : disks_) {
      if (has(facts.info, "Internal") || !plist::isTrueAt(facts.info, "OSInternal")) continue;
      fill(facts.info, "Internal", true);
      facts.guesses.push_back("internal (OSInternal in the listing)");
    }
  }

 private:
  DiskFacts& disk(const std::string& bsd) {
    DiskFacts& facts = disks_[bsd];
    if (facts.sources.empty()) facts.sources.emplace_back(dumpfile::kMount);
    return facts;
  }

  void setKind(DiskFacts& facts, DiskKind kind, std::optional<std::string> parent,
               std::string what) {
    if (facts.kind) return;
    facts.kind = kind;
    if (!facts.parent) facts.parent = std::move(parent);
    facts.guesses.push_back(std::move(what));
  }

  void apfsMount(const std::string& bsd, std::size_t parts) {
    std::string whole = bsdWhole(bsd);
    std::string volume = parts >= 3 ? *bsdParent(bsd) : bsd;
    DiskFacts& container = disk(whole);
    setKind(container, DiskKind::ApfsContainer, std::nullopt,
            "an APFS container (its volumes are mounted as apfs)");
    fill(container.info, "Content", kApfsContainerContent);
    fill(container.info, "WholeDisk", true);
    DiskFacts& v = disk(volume);
    setKind(v, DiskKind::ApfsVolume, whole, "an APFS volume of " + whole + " (mounted as apfs)");
    fill(v.info, "Content", kApfsVolumeContent);
    if (parts >= 3) {
      DiskFacts& snapshot = disk(bsd);
      setKind(snapshot, DiskKind::ApfsSnapshot, volume,
              "a snapshot of " + volume + " (a three-part name mounted as apfs)");
      fill(snapshot.info, "Content", kApfsVolumeContent);
      fill(v.info, "FilesystemType", "apfs");
    }
  }

  void role(DiskFacts& facts, std::string_view role, const std::string& why) {
    if (!facts.roles.empty()) return;
    facts.roles = {std::string(role)};
    facts.guesses.push_back("role " + std::string(role) + " (" + why + ")");
  }

  void simulator(const std::string& bsd, const std::string& mountPoint) {
    DiskFacts& image = disk(bsdWhole(bsd));
    if (has(image.properties, "DiskImageURL")) return;
    std::string_view folder(mountPoint);
    while (folder.ends_with('/')) folder.remove_suffix(1);
    std::string name(folder.substr(folder.find_last_of('/') + 1));
    if (name.empty() || name == "CoreSimulator") name = "runtime";
    std::string url = "file:///Library/Developer/CoreSimulator/Images/" + name + ".dmg";
    image.properties["DiskImageURL"] = url;
    image.guesses.push_back("the disk image " + url + " (a simulator runtime, mounted at " +
                            mountPoint + ")");
  }

  DiskMap& disks_;
  std::map<std::string, std::vector<std::string>, BsdLess> options_;
};

// The disk at the top of `bsd`'s chain of parents.
std::string topOf(const DiskMap& disks, std::string bsd) {
  // Parents nest a few levels; a longer chain can only be a loop, which settleTree reports.
  for (int depth = 0; depth < 16; ++depth) {
    auto it = disks.find(bsd);
    if (it == disks.end() || !it->second.parent || !disks.count(*it->second.parent)) break;
    bsd = *it->second.parent;
  }
  return bsd;
}

bool firstRoleIs(const DiskFacts& facts, std::initializer_list<std::string_view> roles) {
  if (facts.roles.empty()) return false;
  return std::any_of(roles.begin(), roles.end(),
                     [&](std::string_view role) { return facts.roles.front() == role; });
}

}  // namespace

void guessFromLayout(DiskMap& disks, const std::vector<MountLine>& mounts) {
  LayoutGuesser guesser(disks);
  guesser.fromMounts(mounts);
  guesser.systemMounts();
  guesser.namedPairs();
  guesser.systemVolume();
  guesser.systemNames();
  guesser.fileSystems();
  guesser.osInternal();
}

void guessPlacement(DiskMap& disks) {
  bool appleSilicon = std::any_of(disks.begin(), disks.end(), [](const auto& disk) {
    return firstRoleIs(disk.second, {"xART", "Hardware"});
  });
  std::set<std::string, BsdLess> internal;
  for (const auto& [bsd, facts] : disks) {
    const std::string* mountPoint = plist::stringAt(facts.info, "MountPoint");
    bool boot = mountPoint && *mountPoint == "/";
    if (boot || (appleSilicon && firstRoleIs(facts, {"xART", "Hardware"})))
      internal.insert(topOf(disks, bsd));
  }
  for (const std::string& bsd : internal) {
    DiskFacts& facts = disks[bsd];
    if (has(facts.info, "Internal")) continue;
    facts.info["Internal"] = true;
    if (appleSilicon) {
      fill(facts.info, "BusProtocol", "Apple Fabric");
      facts.guesses.push_back(
          "internal, on the Apple Fabric (the SSD of an Apple silicon Mac's system containers)");
    } else {
      facts.guesses.push_back("internal (the disk the system runs from)");
    }
  }
}

void noteGuesses(const DiskMap& disks, Problems& problems) {
  // A recording that names thousands of disks alike (a mount table of many devices) would
  // otherwise write as many lines, each saying the same, into the image.
  constexpr std::size_t kNamedAlike = 8;
  auto guessesOf = [](const DiskFacts& facts) {
    std::string what;
    for (const std::string& guess : facts.guesses) what += (what.empty() ? "" : "; ") + guess;
    return what;
  };
  std::map<std::string, std::vector<std::string_view>> alike;  // guesses -> the disks
  for (const auto& [bsd, facts] : disks) {
    if (!facts.guesses.empty()) alike[guessesOf(facts)].push_back(bsd);
  }
  for (const auto& [bsd, facts] : disks) {
    if (facts.guesses.empty()) continue;
    const std::string what = guessesOf(facts);
    const std::vector<std::string_view>& names = alike.find(what)->second;
    if (names.size() <= kNamedAlike) {
      problems.guess(bsd, "no recording says it; taken as " + what);
    } else if (names.front() == bsd) {
      std::string place;
      for (std::size_t i = 0; i < kNamedAlike; ++i)
        place += (i ? ", " : "") + std::string(names[i]);
      place += " and " + std::to_string(names.size() - kNamedAlike) + " disks more";
      problems.guess(place, "no recording says it of any; each taken as " + what);
    }
  }
}

}  // namespace strandel::importer
