#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <strandel/Strandel.hpp>

#include "framework/PathText.hpp"
#include "tests/framework/CatalogueImages.hpp"

namespace strandel::testing {
namespace {

using Change = std::function<void(Entry& disk, Entry& stick)>;

const std::string kImageName = "Time Machine Backups";

// The volume list of one volume under test: an MS-DOS stick on an external USB disk, changed
// by each case.
PlistArray stickList(const Change& change) {
  Entry disk = wholeDisk("disk2", 16008609792, "USB", false);
  disk.description->insert_or_assign("DAMediaContent", "FDisk_partition_scheme");
  Entry stick = volume({.bsd = "disk2s1",
                        .name = "STICK",
                        .kind = "msdos",
                        .mountPath = "/Volumes/STICK",
                        .type = "MS-DOS (FAT32)",
                        .content = "DOS_FAT_32",
                        .protocol = "USB",
                        .internal = false,
                        .size = 16007544832});
  change(disk, stick);
  disk.child(std::move(stick));
  ImageBuilder image;
  image.add(std::move(disk))
      .file("/Library/Preferences/com.apple.TimeMachine.plist", timeMachinePreferences(kImageName));
  ScopedMachine machine(image);
  return StrandelFramework().volumeList();
}

struct StickCase {
  std::string name;
  Change change;
  bool listed;
};

void runStickCases(const std::vector<StickCase>& cases) {
  NoBundle untranslated;
  for (const auto& c : cases) {
    PlistArray list = stickList(c.change);
    EXPECT_EQ(list.size(), c.listed ? 1u : 0u) << c.name << ": " << bsdNames(list);
  }
}

Change describe(const std::string& key, PlistValue value) {
  return [key, value](Entry&, Entry& stick) { stick.description->insert_or_assign(key, value); };
}
Change property(const std::string& key, PlistValue value) {
  return [key, value](Entry&, Entry& stick) { stick.properties.insert_or_assign(key, value); };
}
// Set on the whole disk, the volume's ancestor, where the list's registry search finds it too.
Change diskProperty(const std::string& key, PlistValue value) {
  return [key, value](Entry& disk, Entry&) { disk.properties.insert_or_assign(key, value); };
}
// Sets each description key to its text, or leaves the key out when the text is empty.
Change describeAll(std::vector<std::pair<std::string, std::string>> texts) {
  return [texts](Entry&, Entry& stick) {
    for (const auto& [key, text] : texts) {
      stick.description->erase(key);
      if (!text.empty()) stick.description->emplace(key, text);
    }
  };
}
Change roles(std::vector<std::string> names) {
  PlistArray list;
  for (const auto& name : names) list.push_back(PlistValue(name));
  return diskProperty("Role", PlistValue(std::move(list)));
}

// One row per drop test and per boundary of it; the sample machines' golden lists hold the
// usual volumes each test drops or keeps (ntfs, DVD-R, simulator images, roles, ...).
TEST(VolumeListDrops, EachTestDropsItsVolumeAndNothingElse) {
  runStickCases({
      {"as built", [](Entry&, Entry&) {}, true},
      {"kind MSDOS", describe("DAVolumeKind", "MSDOS"), false},
      {"no disk object",
       [](Entry&, Entry& stick) {
         stick.description.reset();
         stick.ioMedia = true;
       },
       false},
      {"snapshot subclass", [](Entry&, Entry& stick) { stick.className = "AppleAPFSSnapshotMedia"; }, false},
      {"ATAPI on the disk", diskProperty("ATAPI", true), false},
      {"ATAPI zero", property("ATAPI", 0), true},
      {"CD-ROM", describe("DAMediaType", "CD-ROM"), false},
      {"dvd-r", describe("DAMediaType", "dvd-r"), true},
      {"mirrored disk image", property("isMirroredIDiskImage2", true), false},
      {"hdik identifier text", diskProperty("hdik-unique-identifier", "2F1B7C46-38D5-4C0E-8A44-57B4E8D6E1B0"), false},
      {"simulator image",
       diskProperty("DiskImageURL", "file:///Library/Developer/CoreSimulator/Images/Simulator%20Runtime.dmg"), false},
      {"simulator in lower case", diskProperty("DiskImageURL", "file:///Users/ann/simulator.dmg"), true},
      {"BSD name not disk", describe("DAMediaBSDName", "vn0s1"), false},
      {"network backup image", describeAll({{"DAVolumeName", kImageName}, {"DADeviceProtocol", "Virtual Interface"}}),
       false},
      // Only the first role counts, and only System and Backup are listed.
      {"role Backup", roles({"Backup"}), true},
      {"no roles", roles({}), true},
      {"role system", roles({"system"}), false},
      {"roles Data, System", roles({"Data", "System"}), false},
      {"roles System, Data", roles({"System", "Data"}), true},
  });
}

TEST(VolumeListDrops, ExclusionListInAnyCase) {
  std::vector<StickCase> cases;
  // Each entry of the list once, in a mix of letter case, and as the last component of a path.
  for (const char* name :
       {"eFi", "PREBOOT", "recovery hd", "Recovery", "vm", "Update", "XART", "Boot OS X", "boot osx", "Flash Player",
        "EDRIVE", "Hardware", "iSCPreboot", "Simulator", "Data/EFI", "Volumes/vm/"}) {
    cases.push_back({name, describe("DAVolumeName", name), false});
  }
  for (const char* name : {"Macintosh HD", "EFI2", "VMs", "Recovery HD 2", "my efi", "Preboot Data", "/"}) {
    cases.push_back({name, describe("DAVolumeName", name), true});
  }
  // Without a name the mount path's last component is the name the list tests.
  cases.push_back({"unnamed at /Volumes/Recovery HD",
                   describeAll({{"DAVolumeName", ""}, {"DAVolumePath", mountUrl("/Volumes/Recovery HD")}}), false});
  runStickCases(cases);
}

// disk5 is the sparse bundle of a network backup (its volume disk5s1 named as the preferences
// say), disk6 a USB disk whose volume has the same name, disk7 an image with another name.
ImageBuilder backupMachine(const std::optional<std::string>& preferences) {
  auto disk = [](const std::string& bsd, const std::string& protocol, const std::string& name) {
    Entry whole = wholeDisk(bsd, 2000398934016, protocol, false);
    whole.child(volume({.bsd = bsd + "s1", .name = name, .kind = "hfs", .protocol = protocol, .internal = false}));
    return whole;
  };
  ImageBuilder builder;
  builder.add(disk("disk5", "Virtual Interface", "Time Machine Backups"))
      .add(disk("disk6", "USB", "Time Machine Backups"))
      .add(disk("disk7", "Virtual Interface", "time machine backups"));
  if (preferences) builder.file("/Library/Preferences/com.apple.TimeMachine.plist", *preferences);
  return builder;
}

TEST(IsNetworkTimeMachine, ProtocolAndImageNameMustBothMatchExactly) {
  ScopedMachine machine(backupMachine(timeMachinePreferences("Time Machine Backups")));
  const struct {
    const char* device;
    bool answer;
  } cases[] = {
      {"disk5s1", true},  {"/dev/disk5s1/", true}, {"dev/disk5s1", true}, {"disk6s1", false},
      {"disk7s1", false}, {"disk5", false},        {"", false},           {"DISK5S1", false},
  };
  for (const auto& c : cases) EXPECT_EQ(isNetworkTimeMachine(c.device), c.answer) << "device '" << c.device << "'";
  // Without the preferences no image name is known, and nothing is the backup image.
  ScopedMachine withoutPreferences(backupMachine(std::nullopt));
  EXPECT_FALSE(isNetworkTimeMachine("disk5s1"));
}

// Names that differ only in case are distinct volumes; the list is in BSD-name order, digit runs
// by value, whatever the registry's order.
TEST(VolumeList, NamesThatDifferOnlyInCaseAreDistinctVolumesInBsdOrder) {
  NoBundle untranslated;
  PlistArray list = stickList([](Entry& disk, Entry& stick) {
    stick.description->insert_or_assign("DAVolumeName", "Backup");
    disk.child(volume(volumeOutline("disk2s10", "Ten", "", "", "exfat")));
    disk.child(volume({.bsd = "disk2s2",
                       .name = "backup",
                       .kind = "msdos",
                       .mountPath = "/Volumes/backup",
                       .protocol = "USB",
                       .internal = false}));
  });
  ASSERT_EQ(bsdNames(list), "disk2s1 disk2s2 disk2s10");
  EXPECT_EQ(textAt(*list[0].asDictionary(), "volumeName"), "Backup");
  EXPECT_EQ(textAt(*list[1].asDictionary(), "volumeName"), "backup");
}

// The display name is the volume's name, else its mount path's last component, else its BSD
// name. The sample machines' golden lists hold the usual flags and format labels; these are the
// edges.
TEST(VolumeList, DisplayNameFlagsAndFormatLabel) {
  NoBundle untranslated;
  const struct {
    std::string name, mountPath, kind, type, content, displayName, fmt, flags;
  } cases[] = {
      {"", "/Volumes/Untitled 1", "msdos", "", "DOS_FAT_32", "Untitled 1", "", ""},
      {"", "", "exfat", "ExFAT", "", "disk2s1", "ExFAT", "isHFS"},
      {"A", "", "hfs", "Mac OS Extended (Journaled, Encrypted)", "Apple_HFS", "A", "HFS+", "isHFS isJournal isFVapfs"},
      {"A", "", "hfs", "Mac OS Extended (journaled)", "Apple_HFSX", "A", "HFS+", "isHFS"},
      {"A", "", "apfs", "APFS", "41504653-0000-11aa-aa11-00306543ecac", "A", "APFS", ""},
  };
  for (const auto& c : cases) {
    std::string url = c.mountPath.empty() ? "" : mountUrl(c.mountPath);
    auto record = recordFor(stickList(describeAll({{"DAVolumeName", c.name},
                                                   {"DAVolumePath", url},
                                                   {"DAVolumeKind", c.kind},
                                                   {"DAVolumeType", c.type},
                                                   {"DAMediaContent", c.content}})),
                            "disk2s1");
    std::string name = c.name + " / " + c.kind + " / " + c.type + " / " + c.content;
    ASSERT_TRUE(record) << name;
    EXPECT_EQ(textAt(*record, "volumeName"), c.displayName) << name;
    EXPECT_EQ(textAt(*record, "volumeName_Size"), c.displayName + " (16.01 GB)") << name;
    const PlistDict& member = *record->at("volumeGroup").find("volumes")->asArray()->at(0).asDictionary();
    EXPECT_EQ(textAt(member, "name"), c.displayName) << name;
    std::string flags;
    for (const char* flag : {"isHFS", "isAPFS", "isJournal", "isFVapfs"})
      if (record->at(flag) == PlistValue(true)) flags += (flags.empty() ? "" : " ") + std::string(flag);
    EXPECT_EQ(flags, c.flags) << name;
    EXPECT_EQ(textAt(*record, "volumeFmt"), c.fmt) << name;
  }
}

// The sample machines' golden lists hold the usual mount URLs, escapes included; these are the
// edges.
TEST(UrlPath, DecodesEscapesAndDropsTheTrailingSlash) {
  const struct {
    std::string url, path;
  } cases[] = {
      {"file:///", "/"},
      {"file://localhost/Volumes/Stick/", "/Volumes/Stick"},
      {"file:///Volumes/Q?x=1", "/Volumes/Q"},
      {"file:///Volumes/Bad%2", ""},
      {"file:///Volumes/Bad%FF/", ""},
      {"file:///A%20B%41%42", "/A BAB"},
      {"file://host#/x", ""},
      {"file:///Volumes/Bad%", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(text::urlPath(c.url), c.path) << "url '" << c.url << "'";
}

TEST(UnitizedBytes, WorkedValuesAndCountsOutsideTheUnitTable) {
  NoBundle untranslated;
  constexpr double kInf = std::numeric_limits<double>::infinity();
  const struct {
    double bytes;
    std::string label;
  } cases[] = {
      {999, "999 bytes"},
      {1000, "1.00 KB"},
      {999999, "1000.00 KB"},
      {9.99e26, "999.00 YB"},
      {-1536, "-1536 bytes"},
      {0.999, "1 bytes"},
      // Counts outside the unit table are clamped into it.
      {std::numeric_limits<double>::denorm_min(), "0 bytes"},
      {1e27, "1000.00 YB"},
      {kInf, "inf YB"},
      {-kInf, "-inf bytes"},
      {-std::numeric_limits<double>::quiet_NaN(), "nan bytes"},
  };
  StrandelFramework framework;
  for (const auto& c : cases) EXPECT_EQ(framework.unitizedBytes(c.bytes), c.label) << "bytes " << c.bytes;
  // The largest finite count still prints every digit of its figure.
  std::string largest = framework.unitizedBytes(std::numeric_limits<double>::max());
  EXPECT_TRUE(largest.ends_with(" YB")) << largest;
  EXPECT_GT(largest.size(), 280u);
}

TEST(VolumeList, ByteLabelsAndTooltipTranslateUnitTypeLocationAndProtocol) {
  Bundle bundle(Bundle::Tables{
      {"ZorvikLocal.strings", "\"GB\" = \"Go\";\n\"Internal\" = \"Interne\";\n\"USB\" = \"Bus USB\";\n"},
      {"Localizable.strings", "\"MS-DOS (FAT32)\" = \"MS-DOS (FAT32) traduit\";\n\"HFS+\" = \"Mac OS étendu\";\n"}});
  PlistArray list = stickList([](Entry& disk, Entry&) {
    Entry& hfs = disk.child(
        volume({.bsd = "disk2s2", .name = "Old", .kind = "hfs", .content = kHfsContent, .size = 4000000000}));
    hfs.description->erase("DADeviceProtocol");
  });
  auto stick = recordFor(list, "disk2s1");
  auto old = recordFor(list, "disk2s2");
  ASSERT_TRUE(stick && old) << bsdNames(list);
  EXPECT_EQ(StrandelFramework().unitizedBytes(500107862016), "500.11 Go");
  EXPECT_EQ(textAt(*stick, "volumeName_Size"), "STICK (16.01 Go)");
  EXPECT_EQ(textAt(*stick, "tooltip"), "STICK (16.01 Go)\ndisk2s1\nMS-DOS (FAT32) traduit\nExternal Bus USB");
  // No type: the format label is translated; no protocol: line 4 ends in a blank.
  EXPECT_EQ(textAt(*old, "tooltip"), "Old (4.00 Go)\ndisk2s2\nMac OS étendu\nInterne ");
}

TEST(VolumeList, ConcurrentListsAreEqual) {
  NoBundle untranslated;
  ScopedMachine machine(catalinaMac());
  const PlistValue expected(StrandelFramework().volumeList());
  constexpr int kThreads = 6, kListsEach = 20;
  std::vector<int> mismatches(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      StrandelFramework framework;
      for (int i = 0; i < kListsEach; ++i) {
        if (PlistValue(framework.volumeList()) != expected) ++mismatches[t];
        if (PlistValue(StrandelFramework::volumesInAPFSContainer("disk1s2")) !=
            *expected.asArray()->at(0).find("volumeGroup")) {
          ++mismatches[t];
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(mismatches[t], 0) << "thread " << t;
}

}  // namespace
}  // namespace strandel::testing
