// Helpers of the volume catalogue's tests: translation bundles, the records of a list and small
// images.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

#include <strandel/Strandel.hpp>

#include "tests/support/ImageBuilder.hpp"
#include "tests/support/TempDir.hpp"

namespace strandel::testing {

/// A bundle folder holding the given `.strings` files, the host's bundle while the value lives.
class Bundle {
 public:
  using Tables = std::map<std::string, std::string>;
  explicit Bundle(const Tables& tables) {
    for (const auto& [name, contents] : tables) writeFile(dir_.path() / name, contents);
    useBundle(dir_.str());
  }
  ~Bundle() { useBundle(""); }

 private:
  TempDir dir_;
};

/// No bundle while the value lives: every lookup gives its key.
struct NoBundle {
  NoBundle() { useBundle(""); }
  ~NoBundle() { useBundle(""); }
};

/// The record of `bsdName` in `list`, or nothing.
inline std::optional<PlistDict> recordFor(const PlistArray& list, std::string_view bsdName) {
  for (const PlistValue& record : list) {
    const PlistValue* name = record.find("bsdName");
    if (name && name->asString() && *name->asString() == bsdName) return *record.asDictionary();
  }
  return std::nullopt;
}

/// The text under `key` of a record, or "<absent>".
inline std::string textAt(const PlistDict& record, std::string_view key) {
  auto it = record.find(key);
  if (it == record.end()) return "<absent>";
  if (const std::string* text = it->second.asString()) return *text;
  return "<not a text>";
}

/// The BSD names of a list, in its order, joined by blanks.
inline std::string bsdNames(const PlistArray& list) {
  std::string names;
  for (const PlistValue& record : list) {
    if (!names.empty()) names += ' ';
    const PlistValue* name = record.find("bsdName");
    names += name && name->asString() ? *name->asString() : "?";
  }
  return names;
}

/// The content GUIDs of the partitions the catalogue's tests use.
inline constexpr const char* kApfsPartitionContent = "7C3457EF-0000-11AA-AA11-00306543ECAC";
inline constexpr const char* kHfsContent = "48465300-0000-11AA-AA11-00306543ECAC";

/// The Time Machine preferences file naming `imageName` as the volume of the backup image.
inline std::string timeMachinePreferences(const std::string& imageName) {
  return writeXmlPlist(PlistDict{{"LocalizedDiskImageVolumeName", PlistValue(imageName)}});
}

/// A Mac on macOS 10.15: internal disk0 with the APFS container disk1 on disk0s2, holding
/// "Macintosh HD" (disk1s1, System, at "/"), "Macintosh HD - Data" (disk1s2, Data), Preboot
/// (disk1s3), Recovery (disk1s4), VM (disk1s5, mounted), an unnamed volume (disk1s6) and a
/// snapshot of disk1s1 (disk1s1s1); and an external USB disk disk2 whose APFS container disk3
/// holds "Time Machine" (disk3s1, role Backup, mounted).
inline ImageBuilder catalinaMac() {
  Entry disk0 = wholeDisk("disk0", 500277790720, "PCI-Express", true);
  Entry& disk1 = disk0.child(partition("disk0s2", kApfsPartitionContent, 499963174912))
                     .child(apfsContainerDisk("disk1", 499963174912))
                     .children[0];
  Entry& system = disk1.child(volume(volumeOutline("disk1s1", "Macintosh HD", "/", "System")));
  Entry snapshot = volume(volumeOutline("disk1s1s1", "com.apple.os.update-1"));
  snapshot.className = "AppleAPFSSnapshot";
  system.child(snapshot);
  disk1.child(volume(volumeOutline("disk1s2", "Macintosh HD - Data", "/System/Volumes/Data", "Data")));
  disk1.child(volume(volumeOutline("disk1s3", "Preboot", "", "Preboot")));
  disk1.child(volume(volumeOutline("disk1s4", "Recovery", "", "Recovery")));
  disk1.child(volume(volumeOutline("disk1s5", "VM", "/private/var/vm", "VM")));
  disk1.child(volume(volumeOutline("disk1s6", "")));

  Entry disk2 = wholeDisk("disk2", 2000398934016, "USB", false);
  disk2.child(partition("disk2s2", kApfsPartitionContent, 2000189177856))
      .child(apfsContainerDisk("disk3", 2000189177856))
      .children[0]
      .child(volume(volumeOutline("disk3s1", "Time Machine", "/Volumes/Time Machine", "Backup")));
  ImageBuilder image;
  image.add(std::move(disk0)).add(std::move(disk2));
  return image;
}

}  // namespace strandel::testing
