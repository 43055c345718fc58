#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <strandel/Strandel.hpp>

#include "tests/framework/CatalogueImages.hpp"

namespace strandel::testing {
namespace {

// One volume under test: an MS-DOS stick on an external USB disk, changed by each case.
struct StickCase {
  std::string label;
  std::function<void(Entry& disk, Entry& stick)> change;
  bool listed;
};

const std::string kImageName = "Time Machine Backups";

ImageBuilder stickImage(const StickCase& c) {
  Entry disk = wholeDisk("disk2", 16008609792, "USB", false);
  disk.description->insert_or_assign("DAMediaContent", "FDisk_partition_scheme");
  Entry stick = volume({.bsd = "disk2s1", .name = "STICK", .kind = "msdos", .mountPath = "/Volumes/STICK",
                        .type = "MS-DOS (FAT32)", .content = "DOS_FAT_32", .protocol = "USB", .internal = false,
                        .size = 16007544832});
  c.change(disk, stick);
  disk.child(std::move(stick));
  ImageBuilder image;
  image.add(std::move(disk)).file("/Library/Preferences/com.apple.TimeMachine.plist", timeMachinePreferences(kImageName));
  return image;
}

void runStickCases(const std::vector<StickCase>& cases) {
  NoBundle untranslated;
  for (const auto& c : cases) {
    ScopedMachine machine(stickImage(c));
    PlistArray list = StrandelFramework().volumeList();
    EXPECT_EQ(list.size(), c.listed ? 1u : 0u) << c.label << ": " << bsdNames(list);
  }
}

auto describe(const std::string& key, PlistValue value) {
  return [key, value](Entry&, Entry& stick) { stick.description->insert_or_assign(key, value); };
}
auto forget(const std::string& key) {
  return [key](Entry&, Entry& stick) { stick.description->erase(key); };
}
auto property(const std::string& key, PlistValue value) {
  return [key, value](Entry&, Entry& stick) { stick.properties.insert_or_assign(key, value); };
}
auto diskProperty(const std::string& key, PlistValue value) {
  return [key, value](Entry& disk, Entry&) { disk.properties.insert_or_assign(key, value); };
}

TEST(VolumeListDrops, EachTestDropsItsVolumeAndNothingElse) {
  runStickCases({
      {"as built", [](Entry&, Entry&) {}, true},
      {"no kind", forget("DAVolumeKind"), false},
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
      {"DVD+RW", describe("DAMediaType", "DVD+RW"), true},
      {"mirrored disk image", property("isMirroredIDiskImage2", true), false},
      {"mirrored on the disk", diskProperty("isMirroredIDiskImage2", true), false},
      {"hdik on the disk", diskProperty("hdik-unique-identifier", true), false},
      {"hdik identifier text", diskProperty("hdik-unique-identifier", "2F1B7C46-38D5-4C0E-8A44-57B4E8D6E1B0"), false},
      {"hdik false", diskProperty("hdik-unique-identifier", false), true},
      {"simulator image", diskProperty("DiskImageURL", "file:///Library/Developer/CoreSimulator/Images/Simulator%20Runtime.dmg"), false},
      {"other image", diskProperty("DiskImageURL", "file:///Users/ann/Downloads/Installer.dmg"), true},
      {"simulator in lower case", diskProperty("DiskImageURL", "file:///Users/ann/simulator.dmg"), true},
      {"BSD name not disk", [](Entry&, Entry& stick) {
         stick.properties["BSD Name"] = "vn0s1";
         stick.description->insert_or_assign("DAMediaBSDName", "vn0s1");
       }, false},
      {"no BSD name", [](Entry&, Entry& stick) {
         stick.properties.erase("BSD Name");
         stick.description->erase("DAMediaBSDName");
       }, false},
      {"network backup image", [](Entry&, Entry& stick) {
         stick.description->insert_or_assign("DAVolumeName", kImageName);
         stick.description->insert_or_assign("DADeviceProtocol", "Virtual Interface");
       }, false},
      {"backup image name over USB", describe("DAVolumeName", kImageName), true},
      {"backup image name in another case", [](Entry&, Entry& stick) {
         stick.description->insert_or_assign("DAVolumeName", "time machine backups");
         stick.description->insert_or_assign("DADeviceProtocol", "Virtual Interface");
       }, true},
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
  cases.push_back({"unnamed at /Volumes/Recovery HD", [](Entry&, Entry& stick) {
                     stick.description->erase("DAVolumeName");
                     stick.description->insert_or_assign("DAVolumePath", PlistValue(mountUrl("/Volumes/Recovery HD")));
                   }, false});
  runStickCases(cases);
}

TEST(VolumeList, NamesThatDifferOnlyInCaseAreDistinctVolumes) {
  NoBundle untranslated;
  Entry disk = wholeDisk("disk4", 2000398934016, "USB", false);
  disk.child(volume({.bsd = "disk4s1", .name = "Backup", .kind = "hfs", .mountPath = "/Volumes/Backup",
                     .content = kHfsContent, .protocol = "USB", .internal = false}));
  disk.child(volume({.bsd = "disk4s2", .name = "backup", .kind = "hfs", .mountPath = "/Volumes/backup",
                     .content = kHfsContent, .protocol = "USB", .internal = false}));
  ScopedMachine machine(ImageBuilder().add(std::move(disk)));
  PlistArray list = StrandelFramework().volumeList();
  ASSERT_EQ(bsdNames(list), "disk4s1 disk4s2");
  EXPECT_EQ(textAt(*list[0].asDictionary(), "volumeName"), "Backup");
  EXPECT_EQ(textAt(*list[1].asDictionary(), "volumeName"), "backup");
  EXPECT_EQ(textAt(*list[1].asDictionary(), "volumePath"), "/Volumes/backup");
}

TEST(VolumeList, DisplayNameFallsBackToMountPathThenBsdName) {
  NoBundle untranslated;
  struct NameCase {
    std::string name, mountPath, displayName, nameWithSize;
  };
  const std::vector<NameCase> cases = {
      {"STICK", "/Volumes/STICK", "STICK", "STICK (16.01 GB)"},
      {"", "/Volumes/Untitled 1", "Untitled 1", "Untitled 1 (16.01 GB)"},
      {"", "", "disk2s1", "disk2s1 (16.01 GB)"},
      {"NO NAME", "", "NO NAME", "NO NAME (16.01 GB)"},
  };
  for (const auto& c : cases) {
    ScopedMachine machine(stickImage({"", [&](Entry&, Entry& stick) {
                                        stick.description->erase("DAVolumeName");
                                        stick.description->erase("DAVolumePath");
                                        if (!c.name.empty()) stick.description->emplace("DAVolumeName", c.name);
                                        if (!c.mountPath.empty()) stick.description->emplace("DAVolumePath", mountUrl(c.mountPath));
                                      }, true}));
    auto record = recordFor(StrandelFramework().volumeList(), "disk2s1");
    ASSERT_TRUE(record) << "name '" << c.name << "'";
    EXPECT_EQ(textAt(*record, "volumeName"), c.displayName);
    EXPECT_EQ(textAt(*record, "volumeName_Size"), c.nameWithSize);
    const PlistDict& member = *record->at("volumeGroup").find("volumes")->asArray()->at(0).asDictionary();
    EXPECT_EQ(textAt(member, "name"), c.displayName);
  }
}

TEST(VolumeList, RecordOfAMountedAndOfAnUnmountedVolume) {
  NoBundle untranslated;
  Entry disk = wholeDisk("disk0", 250059350016, "SATA", true);
  Entry root = volume({.bsd = "disk0s2", .name = "HighSierra", .kind = "hfs", .mountPath = "/",
                       .type = "Mac OS Extended (Journaled)", .content = kHfsContent, .protocol = "SATA",
                       .size = 249863348224});
  root.description->emplace("DAVolumeUUID", "18A39FDB-D619-3299-8863-9A3A33608A7F");
  root.description->emplace("DAMediaUUID", "e09ecff1-c6dc-11e9-920b-806e6f6e6963");
  disk.child(root);
  disk.child(volume({.bsd = "disk0s3", .name = "Spare", .kind = "hfs", .type = "Mac OS Extended (Case-sensitive, Encrypted)",
                     .content = "Apple_HFSX", .protocol = "SATA", .size = 999}));
  ScopedMachine machine(ImageBuilder().add(std::move(disk)));
  PlistArray list = StrandelFramework().volumeList();
  ASSERT_EQ(bsdNames(list), "disk0s2 disk0s3");

  const PlistDict expectedRoot{
      {"devicePath", PlistValue("/dev/disk0s2")},
      {"bsdName", PlistValue("disk0s2")},
      {"volumeName", PlistValue("HighSierra")},
      {"volumeName_Size", PlistValue("HighSierra (249.86 GB)")},
      {"volumeURL", PlistValue(PlistUrl{"file:///"})},
      {"volumePath", PlistValue("/")},
      {"volumeFmt", PlistValue("HFS+")},
      {"volumeKind", PlistValue("hfs")},
      {"volumeType", PlistValue("Mac OS Extended (Journaled)")},
      {"volumeUUID", PlistValue("18A39FDB-D619-3299-8863-9A3A33608A7F")},
      {"mediaUUID", PlistValue("E09ECFF1-C6DC-11E9-920B-806E6F6E6963")},
      {"content", PlistValue(kHfsContent)},
      {"connection", PlistValue("SATA")},
      {"location", PlistValue("Internal")},
      {"isAPFS", PlistValue(false)},
      {"isHFS", PlistValue(true)},
      {"isMounted", PlistValue(true)},
      {"isBoot", PlistValue(true)},
      {"isJournal", PlistValue(true)},
      {"isFVapfs", PlistValue(false)},
      {"size", PlistValue(std::uint64_t{249863348224})},
      {"tooltip", PlistValue("HighSierra (249.86 GB)\ndisk0s2\nMac OS Extended (Journaled)\nInternal SATA")},
      {"volumeGroup", PlistValue(PlistDict{
                          {"containsBoot", PlistValue(true)},
                          {"volumes", PlistValue(PlistArray{PlistValue(PlistDict{
                                          {"bsd", PlistValue("disk0s2")},
                                          {"name", PlistValue("HighSierra")},
                                          {"kind", PlistValue("hfs")},
                                          {"volpath", PlistValue("/")},
                                          {"isMounted", PlistValue(true)},
                                      })})},
                      })},
      {"role", PlistValue("")},
  };
  EXPECT_EQ(expectedRoot.size(), 24u);
  EXPECT_EQ(PlistValue(*list[0].asDictionary()), PlistValue(expectedRoot)) << writeJson(list[0]);

  const PlistDict& spare = *list[1].asDictionary();
  EXPECT_EQ(spare.size(), 24u);
  EXPECT_EQ(spare.at("volumeURL"), PlistValue(PlistUrl{""}));
  EXPECT_EQ(textAt(spare, "volumePath"), "");
  EXPECT_EQ(spare.at("isMounted"), PlistValue(false));
  EXPECT_EQ(spare.at("isBoot"), PlistValue(false));
  EXPECT_EQ(spare.at("isJournal"), PlistValue(false));
  EXPECT_EQ(spare.at("isFVapfs"), PlistValue(true));
  EXPECT_EQ(spare.at("isHFS"), PlistValue(true));
  EXPECT_EQ(textAt(spare, "volumeUUID"), "");
  EXPECT_EQ(textAt(spare, "mediaUUID"), "");
  EXPECT_EQ(textAt(spare, "volumeName_Size"), "Spare (999 bytes)");
  EXPECT_EQ(spare.at("size"), PlistValue(std::uint64_t{999}));
  const PlistValue& member = spare.at("volumeGroup").find("volumes")->asArray()->at(0);
  EXPECT_EQ(*member.find("volpath"), PlistValue(""));
  EXPECT_EQ(*member.find("isMounted"), PlistValue(false));
  EXPECT_EQ(*spare.at("volumeGroup").find("containsBoot"), PlistValue(false));
}

TEST(VolumeList, FlagsAndFormatLabelsFromContentKindAndType) {
  NoBundle untranslated;
  struct FlagCase {
    std::string kind, type, content;
    std::string fmt;
    bool isHFS, isAPFS, isJournal, isFVapfs;
  };
  const std::vector<FlagCase> cases = {
      {"msdos", "MS-DOS (FAT32)", "DOS_FAT_32", "MS-DOS (FAT32)", false, false, false, false},
      {"msdos", "", "DOS_FAT_32", "", false, false, false, false},
      {"exfat", "ExFAT", "Windows_NTFS", "ExFAT", false, false, false, false},
      {"exfat", "ExFAT", "", "ExFAT", true, false, false, false},
      {"hfs", "Mac OS Extended (Journaled, Encrypted)", "Apple_HFS", "HFS+", true, false, true, true},
      {"hfs", "Mac OS Extended (journaled)", "Apple_HFSX", "HFS+", true, false, false, false},
      {"apfs", "APFS (Encrypted)", kApfsContent, "APFS", false, true, false, true},
      {"apfs", "APFS", "41504653-0000-11aa-aa11-00306543ecac", "APFS", false, false, false, false},
  };
  for (const auto& c : cases) {
    ScopedMachine machine(stickImage({"", [&](Entry&, Entry& stick) {
                                        stick.description->insert_or_assign("DAVolumeKind", c.kind);
                                        stick.description->erase("DAVolumeType");
                                        stick.description->erase("DAMediaContent");
                                        if (!c.type.empty()) stick.description->emplace("DAVolumeType", c.type);
                                        if (!c.content.empty()) stick.description->emplace("DAMediaContent", c.content);
                                      }, true}));
    auto record = recordFor(StrandelFramework().volumeList(), "disk2s1");
    ASSERT_TRUE(record) << c.kind << " / " << c.type;
    std::string label = c.kind + " / " + c.type + " / " + c.content;
    EXPECT_EQ(textAt(*record, "volumeFmt"), c.fmt) << label;
    EXPECT_EQ(record->at("isHFS"), PlistValue(c.isHFS)) << label;
    EXPECT_EQ(record->at("isAPFS"), PlistValue(c.isAPFS)) << label;
    EXPECT_EQ(record->at("isJournal"), PlistValue(c.isJournal)) << label;
    EXPECT_EQ(record->at("isFVapfs"), PlistValue(c.isFVapfs)) << label;
    // Line 3 of the tooltip falls back to the format label only when there is no type.
    std::string tooltip = textAt(*record, "tooltip");
    std::string thirdLine = tooltip.substr(0, tooltip.rfind('\n'));
    thirdLine = thirdLine.substr(thirdLine.rfind('\n') + 1);
    EXPECT_EQ(thirdLine, c.type.empty() ? c.fmt : c.type) << label;
  }
}

TEST(VolumeList, TooltipTranslatesTypeLocationAndProtocol) {
  Bundle bundle(Bundle::Tables{{"ZorvikLocal.strings", "\"GB\" = \"Go\";\n\"Internal\" = \"Interne\";\n\"USB\" = \"Bus USB\";\n"},
                 {"Localizable.strings", "\"MS-DOS (FAT32)\" = \"MS-DOS (FAT32) traduit\";\n\"HFS+\" = \"Mac OS étendu\";\n"}});
  Entry usb = wholeDisk("disk2", 16008609792, "USB", false);
  usb.child(volume({.bsd = "disk2s1", .name = "STICK", .kind = "msdos", .mountPath = "/Volumes/STICK",
                    .type = "MS-DOS (FAT32)", .content = "DOS_FAT_32", .protocol = "USB", .internal = false,
                    .size = 16007544832}));
  Entry internal = wholeDisk("disk0", 250059350016, "", true);
  internal.description->erase("DADeviceProtocol");
  Entry hfs = volume({.bsd = "disk0s2", .name = "Old", .kind = "hfs", .content = kHfsContent, .size = 4000000000});
  hfs.description->erase("DADeviceProtocol");
  internal.child(hfs);
  ScopedMachine machine(ImageBuilder().add(std::move(internal)).add(std::move(usb)));
  PlistArray list = StrandelFramework().volumeList();
  auto stick = recordFor(list, "disk2s1");
  auto old = recordFor(list, "disk0s2");
  ASSERT_TRUE(stick && old) << bsdNames(list);
  EXPECT_EQ(textAt(*stick, "volumeName_Size"), "STICK (16.01 Go)");
  EXPECT_EQ(textAt(*stick, "tooltip"), "STICK (16.01 Go)\ndisk2s1\nMS-DOS (FAT32) traduit\nExternal Bus USB");
  EXPECT_EQ(textAt(*stick, "location"), "External");
  EXPECT_EQ(textAt(*stick, "connection"), "USB");
  // No type: the format label is translated; no protocol: line 4 ends in a blank.
  EXPECT_EQ(textAt(*old, "tooltip"), "Old (4.00 Go)\ndisk0s2\nMac OS étendu\nInterne ");
  EXPECT_EQ(textAt(*old, "location"), "Internal");
  EXPECT_EQ(textAt(*old, "volumeFmt"), "HFS+");
}

TEST(VolumeList, SortsBsdNamesWithDigitRunsByValue) {
  NoBundle untranslated;
  ImageBuilder image;
  for (const char* bsd : {"disk10s1", "disk2s10", "disk2s2", "disk1s1"}) {
    Entry disk = wholeDisk(std::string(bsd).substr(0, std::string(bsd).find('s', 4)), 1000000000, "USB", false);
    disk.child(volume({.bsd = bsd, .name = std::string("Vol ") + bsd, .kind = "exfat", .content = "Windows_NTFS",
                       .protocol = "USB", .internal = false}));
    image.add(std::move(disk));
  }
  ScopedMachine machine(image);
  EXPECT_EQ(bsdNames(StrandelFramework().volumeList()), "disk1s1 disk2s2 disk2s10 disk10s1");
}

TEST(VolumeList, ApfsRolesGroupsAndBoot) {
  NoBundle untranslated;
  ScopedMachine machine(catalinaMac());
  StrandelFramework framework;
  PlistArray list = framework.volumeList();
  // The unnamed disk1s6 is listed under its BSD name, while the group, which tests raw names,
  // leaves it out.
  ASSERT_EQ(bsdNames(list), "disk1s1 disk1s6 disk3s1");
  const PlistDict& system = *list[0].asDictionary();
  EXPECT_EQ(textAt(system, "role"), "System");
  EXPECT_EQ(system.at("isAPFS"), PlistValue(true));
  EXPECT_EQ(system.at("isHFS"), PlistValue(false));
  EXPECT_EQ(system.at("isBoot"), PlistValue(true));
  // The APFS form: every member below the container that the exclusion list lets through,
  // in registry order, isMounted an integer.
  const PlistDict expectedGroup{
      {"containsBoot", PlistValue(true)},
      {"volumes", PlistValue(PlistArray{
                      PlistValue(PlistDict{{"bsd", PlistValue("disk1s1")}, {"name", PlistValue("Macintosh HD")},
                                           {"kind", PlistValue("apfs")}, {"volpath", PlistValue("/")},
                                           {"isMounted", PlistValue(1)}}),
                      PlistValue(PlistDict{{"bsd", PlistValue("disk1s1s1")}, {"name", PlistValue("com.apple.os.update-1")},
                                           {"kind", PlistValue("apfs")}, {"volpath", PlistValue("")},
                                           {"isMounted", PlistValue(0)}}),
                      PlistValue(PlistDict{{"bsd", PlistValue("disk1s2")}, {"name", PlistValue("Macintosh HD - Data")},
                                           {"kind", PlistValue("apfs")}, {"volpath", PlistValue("/System/Volumes/Data")},
                                           {"isMounted", PlistValue(1)}}),
                  })},
  };
  EXPECT_EQ(system.at("volumeGroup"), PlistValue(expectedGroup)) << writeJson(system.at("volumeGroup"));
  const PlistValue& member = system.at("volumeGroup").find("volumes")->asArray()->at(0);
  EXPECT_EQ(member.find("isMounted")->kind(), PlistValue::Kind::Integer);

  EXPECT_EQ(*list[1].find("volumeGroup"), system.at("volumeGroup"));
  EXPECT_EQ(textAt(*list[1].asDictionary(), "volumeName"), "disk1s6");

  const PlistDict& backup = *list[2].asDictionary();
  EXPECT_EQ(textAt(backup, "role"), "Backup");
  EXPECT_EQ(textAt(backup, "volumePath"), "/Volumes/Time Machine");
  EXPECT_EQ(textAt(backup, "location"), "External");
  EXPECT_EQ(*backup.at("volumeGroup").find("containsBoot"), PlistValue(false));
  EXPECT_EQ(backup.at("volumeGroup"), PlistValue(StrandelFramework::volumesInAPFSContainer("disk3s1")));
}

TEST(VolumeList, RolesOtherThanSystemAndBackupAreDropped) {
  NoBundle untranslated;
  struct RoleCase {
    std::optional<PlistValue> role;
    bool listed;
  };
  const std::vector<RoleCase> cases = {
      {std::nullopt, true},
      {PlistValue(PlistArray{PlistValue("System")}), true},
      {PlistValue(PlistArray{PlistValue("Backup")}), true},
      {PlistValue(PlistArray{}), true},
      {PlistValue(PlistArray{PlistValue("Data")}), false},
      {PlistValue(PlistArray{PlistValue("Preboot")}), false},
      {PlistValue(PlistArray{PlistValue("Recovery")}), false},
      {PlistValue(PlistArray{PlistValue("User")}), false},
      {PlistValue(PlistArray{PlistValue("system")}), false},
      {PlistValue(PlistArray{PlistValue("Data"), PlistValue("System")}), false},
      {PlistValue(PlistArray{PlistValue("System"), PlistValue("Data")}), true},
  };
  for (const auto& c : cases) {
    Entry disk = wholeDisk("disk2", 1000000000000, "USB", false);
    Entry& container = disk.child(apfsContainerDisk("disk3", 999000000000));
    if (c.role) container.properties["Role"] = *c.role;  // found on an ancestor of the volume
    container.children[0].child(volume({.bsd = "disk3s1", .name = "Work", .mountPath = "/Volumes/Work",
                                        .protocol = "USB", .internal = false}));
    ScopedMachine machine(ImageBuilder().add(std::move(disk)));
    PlistArray list = StrandelFramework().volumeList();
    std::string label = c.role ? writeJson(*c.role) : "no role";
    EXPECT_EQ(list.size(), c.listed ? 1u : 0u) << label;
  }
}

TEST(VolumeList, RepeatedListsAndTheFrameworkEntryAgree) {
  NoBundle untranslated;
  ScopedMachine machine(catalinaMac());
  StrandelFramework framework;
  PlistArray first = framework.volumeList();
  EXPECT_EQ(PlistValue(framework.volumeList()), PlistValue(first));
  EXPECT_EQ(PlistValue(framework.volumeListFromFramework()), PlistValue(first));
}

TEST(VolumeList, FrameworkEntryReachesAnOverride) {
  struct Fixed : StrandelFramework {
    PlistArray volumeList() override { return PlistArray{PlistValue("overridden")}; }
  };
  Fixed fixed;
  EXPECT_EQ(PlistValue(fixed.volumeListFromFramework()), PlistValue(PlistArray{PlistValue("overridden")}));
}

TEST(VolumeList, EmptyWithoutMedia) {
  ScopedMachine machine(ImageBuilder{});
  EXPECT_TRUE(StrandelFramework().volumeList().empty());
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
