#include <gtest/gtest.h>

#include <functional>
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
  Entry stick = volume({.bsd = "disk2s1", .name = "STICK", .kind = "msdos", .mountPath = "/Volumes/STICK",
                        .type = "MS-DOS (FAT32)", .content = "DOS_FAT_32", .protocol = "USB", .internal = false,
                        .size = 16007544832});
  change(disk, stick);
  disk.child(std::move(stick));
  ImageBuilder image;
  image.add(std::move(disk)).file("/Library/Preferences/com.apple.TimeMachine.plist", timeMachinePreferences(kImageName));
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
Change both(Change first, Change second) {
  return [first, second](Entry& disk, Entry& stick) { first(disk, stick); second(disk, stick); };
}
Change roles(std::vector<std::string> names) {
  PlistArray list;
  for (const auto& name : names) list.push_back(PlistValue(name));
  return diskProperty("Role", PlistValue(std::move(list)));
}

TEST(VolumeListDrops, EachTestDropsItsVolumeAndNothingElse) {
  const Change virtualInterface = describe("DADeviceProtocol", "Virtual Interface");
  runStickCases({
      {"as built", [](Entry&, Entry&) {}, true},
      {"no kind", [](Entry&, Entry& stick) { stick.description->erase("DAVolumeKind"); }, false},
      {"kind ntfs", describe("DAVolumeKind", "ntfs"), false},
      {"kind MSDOS", describe("DAVolumeKind", "MSDOS"), false},
      {"kind hfs", describe("DAVolumeKind", "hfs"), true},
      {"kind exfat", describe("DAVolumeKind", "exfat"), true},
      {"no disk object", [](Entry&, Entry& stick) { stick.description.reset(); stick.ioMedia = true; }, false},
      {"snapshot class", [](Entry&, Entry& stick) { stick.className = "AppleAPFSSnapshot"; }, false},
      {"snapshot subclass", [](Entry&, Entry& stick) { stick.className = "AppleAPFSSnapshotMedia"; }, false},
      {"volume class", [](Entry&, Entry& stick) { stick.className = "AppleAPFSVolume"; }, true},
      {"ATAPI on the volume", property("ATAPI", true), false},
      {"ATAPI on the disk", diskProperty("ATAPI", true), false},
      {"ATAPI as number", diskProperty("ATAPI", 1), false},
      {"ATAPI false", property("ATAPI", false), true},
      {"ATAPI zero", property("ATAPI", 0), true},
      {"DVD-R", describe("DAMediaType", "DVD-R"), false},
      {"CD-ROM", describe("DAMediaType", "CD-ROM"), false},
      {"dvd-r", describe("DAMediaType", "dvd-r"), true},
      {"mirrored disk image", property("isMirroredIDiskImage2", true), false},
      {"hdik identifier text", diskProperty("hdik-unique-identifier", "2F1B7C46-38D5-4C0E-8A44-57B4E8D6E1B0"), false},
      {"hdik false", diskProperty("hdik-unique-identifier", false), true},
      {"simulator image", diskProperty("DiskImageURL", "file:///Library/Developer/CoreSimulator/Images/Simulator%20Runtime.dmg"), false},
      {"other image", diskProperty("DiskImageURL", "file:///Users/ann/Downloads/Installer.dmg"), true},
      {"simulator in lower case", diskProperty("DiskImageURL", "file:///Users/ann/simulator.dmg"), true},
      {"BSD name not disk", both(property("BSD Name", "vn0s1"), describe("DAMediaBSDName", "vn0s1")), false},
      {"no BSD name", [](Entry&, Entry& s) { s.properties.erase("BSD Name"); s.description->erase("DAMediaBSDName"); }, false},
      {"network backup image", both(describe("DAVolumeName", kImageName), virtualInterface), false},
      {"backup image name over USB", describe("DAVolumeName", kImageName), true},
      {"backup image name in another case", both(describe("DAVolumeName", "time machine backups"), virtualInterface), true},
      // Only the first role counts, and only System and Backup are listed.
      {"role System", roles({"System"}), true},
      {"role Backup", roles({"Backup"}), true},
      {"no roles", roles({}), true},
      {"role Data", roles({"Data"}), false},
      {"role system", roles({"system"}), false},
      {"roles Data, System", roles({"Data", "System"}), false},
      {"roles System, Data", roles({"System", "Data"}), true},
  });
}

TEST(VolumeListDrops, ExclusionListInAnyCase) {
  std::vector<StickCase> cases;
  for (const char* name : {"EFI", "efi", "eFi", "Preboot", "PREBOOT", "Recovery HD", "recovery hd", "Recovery", "VM",
                           "vm", "Update", "xART", "XART", "Boot OS X", "boot osx", "Flash Player", "EDRIVE",
                           "Hardware", "iSCPreboot", "Simulator", "Data/EFI", "Volumes/vm/", "Update/"}) {
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

TEST(VolumeList, NamesThatDifferOnlyInCaseAreDistinctVolumes) {
  NoBundle untranslated;
  PlistArray list = stickList([](Entry& disk, Entry& stick) {
    stick.description->insert_or_assign("DAVolumeName", "Backup");
    disk.child(volume({.bsd = "disk2s2", .name = "backup", .kind = "msdos", .mountPath = "/Volumes/backup",
                       .protocol = "USB", .internal = false}));
  });
  ASSERT_EQ(bsdNames(list), "disk2s1 disk2s2");
  EXPECT_EQ(textAt(*list[0].asDictionary(), "volumeName"), "Backup");
  EXPECT_EQ(textAt(*list[1].asDictionary(), "volumeName"), "backup");
  EXPECT_EQ(textAt(*list[1].asDictionary(), "volumePath"), "/Volumes/backup");
}

TEST(VolumeList, DisplayNameFallsBackToMountPathThenBsdName) {
  NoBundle untranslated;
  const struct {
    std::string name, mountPath, displayName;
  } cases[] = {
      {"STICK", "/Volumes/STICK", "STICK"},
      {"", "/Volumes/Untitled 1", "Untitled 1"},
      {"", "", "disk2s1"},
      {"NO NAME", "", "NO NAME"},
  };
  for (const auto& c : cases) {
    std::string url = c.mountPath.empty() ? "" : mountUrl(c.mountPath);
    auto record = recordFor(stickList(describeAll({{"DAVolumeName", c.name}, {"DAVolumePath", url}})), "disk2s1");
    ASSERT_TRUE(record) << "name '" << c.name << "'";
    EXPECT_EQ(textAt(*record, "volumeName"), c.displayName) << c.name;
    EXPECT_EQ(textAt(*record, "volumeName_Size"), c.displayName + " (16.01 GB)") << c.name;
    const PlistDict& member = *record->at("volumeGroup").find("volumes")->asArray()->at(0).asDictionary();
    EXPECT_EQ(textAt(member, "name"), c.displayName) << c.name;
  }
}

// The sample machines' golden lists hold the usual combinations; these are the edges.
TEST(VolumeList, FlagsAndFormatLabelsFromContentKindAndType) {
  NoBundle untranslated;
  const struct {
    std::string kind, type, content, fmt, flags;
  } cases[] = {
      {"msdos", "", "DOS_FAT_32", "", ""},
      {"exfat", "ExFAT", "", "ExFAT", "isHFS"},
      {"hfs", "Mac OS Extended (Journaled, Encrypted)", "Apple_HFS", "HFS+", "isHFS isJournal isFVapfs"},
      {"hfs", "Mac OS Extended (journaled)", "Apple_HFSX", "HFS+", "isHFS"},
      {"apfs", "APFS (Encrypted)", kApfsContent, "APFS", "isAPFS isFVapfs"},
      {"apfs", "APFS", "41504653-0000-11aa-aa11-00306543ecac", "APFS", ""},
  };
  for (const auto& c : cases) {
    auto record = recordFor(
        stickList(describeAll({{"DAVolumeKind", c.kind}, {"DAVolumeType", c.type}, {"DAMediaContent", c.content}})),
        "disk2s1");
    std::string name = c.kind + " / " + c.type + " / " + c.content;
    ASSERT_TRUE(record) << name;
    std::string flags;
    for (const char* flag : {"isHFS", "isAPFS", "isJournal", "isFVapfs"})
      if (record->at(flag) == PlistValue(true)) flags += (flags.empty() ? "" : " ") + std::string(flag);
    EXPECT_EQ(flags, c.flags) << name;
    EXPECT_EQ(textAt(*record, "volumeFmt"), c.fmt) << name;
    // Line 3 of the tooltip falls back to the format label only when there is no type.
    EXPECT_EQ(textAt(*record, "tooltip"), "STICK (16.01 GB)\ndisk2s1\n" + (c.type.empty() ? c.fmt : c.type) +
                                              "\nExternal USB") << name;
  }
}

// The sample machines' golden lists hold the usual mount URLs; these are the edges.
TEST(UrlPath, DecodesEscapesAndDropsTheTrailingSlash) {
  const struct {
    std::string url, path;
  } cases[] = {
      {"file:///", "/"},
      {"file:///Volumes/Backups%20of%20Michael%E2%80%99s%20MBP/", "/Volumes/Backups of Michael’s MBP"},
      {"file://localhost/Volumes/Stick/", "/Volumes/Stick"},
      {"file:///Volumes/A%2FB/", "/Volumes/A/B"},
      {"file:///Volumes/Stick", "/Volumes/Stick"},
      {"file:///Volumes/Stick//", "/Volumes/Stick/"},
      {"file:///Volumes/Q?x=1", "/Volumes/Q"},
      {"", ""},
      {"file://", ""},
      {"file:", ""},
      {"file:///Volumes/Bad%2", ""},
      {"file:///Volumes/Bad%zz/", ""},
      {"file:///Volumes/Bad%FF/", ""},
      {"/Volumes/Plain/", "/Volumes/Plain"},
  };
  for (const auto& c : cases) EXPECT_EQ(urlPath(c.url), c.path) << "url '" << c.url << "'";
}

// The cut at the first "s" outside "disk", which also turns a "dizk" into "disk".
TEST(WholeDiskName, CutsAtTheFirstSliceSeparatorOutsideDisk) {
  const struct {
    std::string name, whole;
  } cases[] = {
      {"disk1s2s1", "disk1"}, {"disk10s4", "disk10"},       {"/dev/disk1s2", "/dev/disk1"}, {"rdisk4s2", "rdisk4"},
      {"s1", ""},             {"dis", "di"},                {"disks1", "disk"},             {"dizk2s1", "disk2"},
      {"", ""},               {"diskdisk2s1", "diskdisk2"},
  };
  for (const auto& c : cases) EXPECT_EQ(wholeDiskName(c.name), c.whole) << "name '" << c.name << "'";
}

TEST(VolumeList, TooltipTranslatesTypeLocationAndProtocol) {
  Bundle bundle(Bundle::Tables{{"ZorvikLocal.strings", "\"GB\" = \"Go\";\n\"Internal\" = \"Interne\";\n\"USB\" = \"Bus USB\";\n"},
                 {"Localizable.strings", "\"MS-DOS (FAT32)\" = \"MS-DOS (FAT32) traduit\";\n\"HFS+\" = \"Mac OS étendu\";\n"}});
  PlistArray list = stickList([](Entry& disk, Entry& stick) {
    stick.description->emplace("DAMediaUUID", "e09ecff1-c6dc-11e9-920b-806e6f6e6963");
    Entry& hfs = disk.child(volume({.bsd = "disk2s2", .name = "Old", .kind = "hfs", .content = kHfsContent, .size = 4000000000}));
    hfs.description->erase("DADeviceProtocol");
  });
  auto stick = recordFor(list, "disk2s1");
  auto old = recordFor(list, "disk2s2");
  ASSERT_TRUE(stick && old) << bsdNames(list);
  EXPECT_EQ(textAt(*stick, "volumeName_Size"), "STICK (16.01 Go)");
  EXPECT_EQ(textAt(*stick, "tooltip"), "STICK (16.01 Go)\ndisk2s1\nMS-DOS (FAT32) traduit\nExternal Bus USB");
  EXPECT_EQ(textAt(*stick, "location"), "External");
  EXPECT_EQ(textAt(*stick, "connection"), "USB");
  EXPECT_EQ(textAt(*stick, "mediaUUID"), "E09ECFF1-C6DC-11E9-920B-806E6F6E6963");
  // No type: the format label is translated; no protocol: line 4 ends in a blank.
  EXPECT_EQ(textAt(*old, "tooltip"), "Old (4.00 Go)\ndisk2s2\nMac OS étendu\nInterne ");
  EXPECT_EQ(textAt(*old, "location"), "Internal");
  EXPECT_EQ(textAt(*old, "volumeFmt"), "HFS+");
}

TEST(VolumeList, SortsBsdNamesWithDigitRunsByValue) {
  NoBundle untranslated;
  ImageBuilder image;
  for (std::string bsd : {"disk10s1", "disk2s10", "disk2s2", "disk1s1"}) {
    Entry disk = wholeDisk(bsd.substr(0, bsd.find('s', 4)), 1000000000, "USB", false);
    disk.child(volume(volumeOutline(bsd, "Vol " + bsd, "", "", "exfat")));
    image.add(std::move(disk));
  }
  ScopedMachine machine(image);
  EXPECT_EQ(bsdNames(StrandelFramework().volumeList()), "disk1s1 disk2s2 disk2s10 disk10s1");
}

TEST(VolumeList, FrameworkEntryReachesAnOverride) {
  struct Fixed : StrandelFramework {
    PlistArray volumeList() override { return PlistArray{PlistValue("overridden")}; }
  };
  Fixed fixed;
  EXPECT_EQ(PlistValue(fixed.volumeListFromFramework()), PlistValue(PlistArray{PlistValue("overridden")}));
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
        if (PlistValue(framework.volumeListFromFramework()) != expected) ++mismatches[t];
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
