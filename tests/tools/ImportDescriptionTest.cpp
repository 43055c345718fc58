// Disk descriptions made from diskutil info, as the importer writes them into an image.
#include "tools/strandel/import/Description.hpp"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/Paths.hpp"
#include "tools/strandel/import/Dump.hpp"

namespace strandel::importer {
namespace {

PlistDict infoFile(const std::string& dump, const std::string& bsd) {
  auto bytes = readBytes(testing::sourceDir() + "/tests/tools/dumps/" + dump + "/info/" + bsd + ".plist");
  EXPECT_TRUE(bytes.has_value()) << dump << " " << bsd;
  auto value = readPlist(bytes.value_or(""));
  return value && value->asDictionary() ? *value->asDictionary() : PlistDict{};
}

TEST(ImportDescription, MapsARealHfsRootVolume) {
  PlistDict whole{{"DAMediaBSDName", PlistValue("disk0")}, {"DAMediaContent", PlistValue("GUID_partition_scheme")}};
  Problems problems;
  PlistDict d = describeDisk("disk0s2", infoFile("osx-virtualbox", "disk0s2"), {.parent = &whole}, "info/disk0s2.plist",
                             problems);
  EXPECT_TRUE(problems.lines().empty());
  EXPECT_EQ(d.at("DAMediaBSDName"), PlistValue("disk0s2"));
  EXPECT_EQ(d.at("DAVolumeName"), PlistValue("OSX"));
  EXPECT_EQ(d.at("DAVolumeKind"), PlistValue("hfs"));
  // The user-visible name wins over FilesystemName ("Journaled HFS+").
  EXPECT_EQ(d.at("DAVolumeType"), PlistValue("Mac OS Extended (Journaled)"));
  // On a GUID partition map, diskutil's "Apple_HFS" is the partition-type GUID to the service.
  EXPECT_EQ(d.at("DAMediaContent"), PlistValue("48465300-0000-11AA-AA11-00306543ECAC"));
  EXPECT_EQ(d.at("DADeviceProtocol"), PlistValue("SATA"));
  EXPECT_EQ(d.at("DADeviceInternal"), PlistValue(true));
  EXPECT_EQ(d.at("DAMediaSize"), PlistValue(std::int64_t{42089095168}));
  EXPECT_EQ(d.at("DAVolumeUUID"), PlistValue("AC723754-135E-39BE-8A81-C91228501E9B"));
  EXPECT_EQ(d.at("DAMediaUUID"), PlistValue("72914C17-6469-457F-B2F0-26BE5BD03843"));
  EXPECT_EQ(d.at("DAVolumePath"), PlistValue("file:///"));
  EXPECT_EQ(d.at("DAMediaType"), PlistValue("Generic"));
  EXPECT_EQ(d.at("DAMediaWhole"), PlistValue(false));
  // Keys that diskutil prints empty are left out, as the service leaves them out.
  EXPECT_EQ(d.count("DADeviceModel"), 0u);
}

TEST(ImportDescription, MapsARealApfsDataVolumeWithItsEmDash) {
  Problems problems;
  PlistDict d = describeDisk("disk1s1", infoFile("catalina", "disk1s1"), {}, "info/disk1s1.plist", problems);
  EXPECT_TRUE(problems.lines().empty());
  EXPECT_EQ(d.at("DAVolumeName"), PlistValue("Macintosh HD — Data"));
  EXPECT_EQ(d.at("DAVolumeKind"), PlistValue("apfs"));
  EXPECT_EQ(d.at("DAMediaContent"), PlistValue("41504653-0000-11AA-AA11-00306543ECAC"));
  EXPECT_EQ(d.at("DAVolumePath"), PlistValue("file:///System/Volumes/Data/"));
  EXPECT_EQ(d.at("DAMediaSize"), PlistValue(std::int64_t{250790436864}));
}

TEST(ImportDescription, NamesDiskImagesAsTheServiceDoes) {
  PlistDict info{{"BusProtocol", PlistValue("Disk Image")}, {"VolumeName", PlistValue("Backups of Michael’s MBP")},
                 {"MountPoint", PlistValue("/Volumes/Backups of Michael’s MBP")}};
  Problems problems;
  PlistDict d = describeDisk("disk5s1", info, {}, "x", problems);
  EXPECT_EQ(d.at("DADeviceProtocol"), PlistValue("Virtual Interface"));
  EXPECT_EQ(d.at("DAVolumeName"), PlistValue("Backups of Michael’s MBP"));
  EXPECT_EQ(d.at("DAVolumePath"), PlistValue("file:///Volumes/Backups%20of%20Michael%E2%80%99s%20MBP/"));
}

TEST(ImportDescription, KeepsNamesWithColonsAndSlashes) {
  PlistDict info{{"VolumeName", PlistValue("edenfs:/Users/wez/fbsource/buck-out")},
                 {"MountPoint", PlistValue("/Volumes/edenfs:%Users%wez")}};
  Problems problems;
  PlistDict d = describeDisk("disk1s5", info, {}, "x", problems);
  EXPECT_EQ(d.at("DAVolumeName"), PlistValue("edenfs:/Users/wez/fbsource/buck-out"));
  EXPECT_EQ(d.at("DAVolumePath"), PlistValue("file:///Volumes/edenfs:%25Users%25wez/"));
}

TEST(ImportDescription, TakesDeviceKeysAndSizesFromTheDiskAbove) {
  PlistDict container{{"DAMediaBSDName", PlistValue("disk1")},
                      {"DADeviceProtocol", PlistValue("PCI")},
                      {"DADeviceInternal", PlistValue(true)},
                      {"DADeviceModel", PlistValue("APPLE SSD SM0256L")},
                      {"DAMediaSize", PlistValue(std::int64_t{250790436864})},
                      {"DAVolumeName", PlistValue("not inherited")}};
  Problems problems;
  PlistDict volume = describeDisk("disk1s2", {{"VolumeName", PlistValue("Preboot")}},
                                  {.parent = &container, .sizeOfParent = true}, "x", problems);
  EXPECT_EQ(volume.at("DADeviceProtocol"), PlistValue("PCI"));
  EXPECT_EQ(volume.at("DADeviceInternal"), PlistValue(true));
  EXPECT_EQ(volume.at("DADeviceModel"), PlistValue("APPLE SSD SM0256L"));
  EXPECT_EQ(volume.at("DAMediaSize"), PlistValue(std::int64_t{250790436864}));
  EXPECT_EQ(volume.at("DAVolumeName"), PlistValue("Preboot"));

  // A partition has a size of its own; without one it has none, not its disk's.
  PlistDict partition = describeDisk("disk0s1", {}, {.parent = &container}, "x", problems);
  EXPECT_EQ(partition.count("DAMediaSize"), 0u);
  EXPECT_EQ(partition.count("DAVolumeName"), 0u);

  // A snapshot is named after its volume, unless diskutil said otherwise.
  PlistDict snapshot = describeDisk("disk1s5s1", {}, {.parent = &container, .sizeOfParent = true, .snapshot = true},
                                    "x", problems);
  EXPECT_EQ(snapshot.at("DAVolumeName"), PlistValue("not inherited"));
  EXPECT_TRUE(problems.lines().empty());
}

TEST(ImportDescription, LeavesOutValuesOfTheWrongTypeWithALine) {
  PlistDict info{{"VolumeName", PlistValue(42)},
                 {"Internal", PlistValue("Yes")},
                 {"Size", PlistValue(-1)},
                 {"VolumeUUID", PlistValue("not-a-uuid")},
                 {"DiskUUID", PlistValue("a0c85363-e33f-4708-9b6a-68bd0aa062c1")},
                 {"MountPoint", PlistValue("Volumes/Relative")},
                 {"SomethingNew", PlistValue(PlistDict{{"nested", PlistValue(true)}})}};
  Problems problems;
  PlistDict d = describeDisk("disk3", info, {}, "info/disk3.plist", problems);
  EXPECT_EQ(d.size(), 2u) << "only the BSD name and the UUID that is one";
  EXPECT_EQ(d.at("DAMediaUUID"), PlistValue("A0C85363-E33F-4708-9B6A-68BD0AA062C1"));
  ASSERT_EQ(problems.lines().size(), 5u);
  EXPECT_EQ(problems.lines()[0], "info/disk3.plist: VolumeName: expected a string; left out");
  for (const std::string& line : problems.lines()) EXPECT_TRUE(line.starts_with("info/disk3.plist: ")) << line;
}

TEST(ImportDescription, TranslatesOnlyTheNamesOfGuidPartitionMaps) {
  PlistDict gpt{{"DAMediaBSDName", PlistValue("disk0")}, {"DAMediaContent", PlistValue("GUID_partition_scheme")}};
  PlistDict mbr{{"DAMediaBSDName", PlistValue("disk2")}, {"DAMediaContent", PlistValue("FDisk_partition_scheme")}};
  struct Case {
    const PlistDict* parent;
    const char* content;
    const char* expected;
  };
  const Case cases[] = {
      {&gpt, "EFI", "C12A7328-F81F-11D2-BA4B-00A0C93EC93B"},
      {&gpt, "Apple_APFS", "7C3457EF-0000-11AA-AA11-00306543ECAC"},
      {&gpt, "Apple_Boot", "426F6F74-0000-11AA-AA11-00306543ECAC"},
      {&gpt, "Microsoft Basic Data", "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7"},
      {&gpt, "Some_Future_Type", "Some_Future_Type"},
      {&mbr, "Windows_NTFS", "Windows_NTFS"},
      {&mbr, "Apple_HFS", "Apple_HFS"},
      {nullptr, "Apple_HFS", "Apple_HFS"},
  };
  for (const Case& c : cases) {
    Problems problems;
    PlistDict d = describeDisk("disk0s1", {{"Content", PlistValue(c.content)}}, {.parent = c.parent}, "x", problems);
    EXPECT_EQ(d.at("DAMediaContent"), PlistValue(c.expected)) << c.content;
  }
  // The registry's own Content is what the service reports, whatever diskutil called it.
  Problems problems;
  PlistDict d = describeDisk("disk0s2", {{"Content", PlistValue("Apple_HFS")}},
                             {.parent = &gpt, .mediaContent = "48465300-0000-11AA-AA11-00306543ECAC"}, "x", problems);
  EXPECT_EQ(d.at("DAMediaContent"), PlistValue("48465300-0000-11AA-AA11-00306543ECAC"));
}

}  // namespace
}  // namespace strandel::importer
