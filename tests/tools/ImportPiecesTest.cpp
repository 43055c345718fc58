// The importer's pieces on real lines: the readers of `mount` and `df`, the text forms of
// diskutil info and apfs list, sessions and line ends, sw_vers' lines, the mount URLs and the
// partition types it writes, and BSD names. The real dumps go through them whole in ImportDumpTest.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "tools/strandel/import/BsdName.hpp"
#include "tools/strandel/import/Description.hpp"
#include "tools/strandel/import/DiskListText.hpp"
#include "tools/strandel/import/DiskutilText.hpp"
#include "tools/strandel/import/FileUrl.hpp"
#include "tools/strandel/import/KnownFacts.hpp"
#include "tools/strandel/import/MountText.hpp"
#include "tools/strandel/import/PastedText.hpp"
#include "tools/strandel/import/Transcript.hpp"

namespace strandel::importer {
namespace {

TEST(ImportMountText, ReadsMountLinesUpToTheLastParenthesis) {
  // Each line and what it reads as, "from|on|type|options"; "" when it is no mount.
  const std::pair<const char*, const char*> cases[] = {
      {"//riccardo@1.0.1.10/video on /Volumes/video (afpfs, nodev)",
       "//riccardo@1.0.1.10/video|/Volumes/video|afpfs|nodev"},
      {"/dev/disk3s1s1 on / (apfs, sealed, local, read-only)", "/dev/disk3s1s1|/|apfs|sealed,local,read-only"},
      // Not mounts: a prompt, a cut line, no type, no " on ".
      {"40 Z% mount", ""},
      {"/dev/disk1s1 on / (apfs, local", ""},
      {"/dev/disk1s1 on / ()", ""},
      {"/dev/disk1s1 / (apfs, local)", ""},
      {"", ""},
  };
  for (const auto& [line, expected] : cases) {
    auto mount = parseMountLine(line);
    std::string read = mount ? mount->from + "|" + mount->on + "|" + mount->type + "|" : "";
    for (const std::string& option : mount ? mount->options : std::vector<std::string>{})
      read += (read.ends_with("|") ? "" : ",") + option;
    EXPECT_EQ(read, expected) << line;
  }
}

TEST(ImportPastedText, FindsThePropertyListBetweenPromptLines) {
  // The text and the span found; nullptr for none (the text is the list itself, or has none).
  const std::pair<const char*, const char*> cases[] = {
      {"% diskutil list -plist\n<?xml version=\"1.0\"?>\n<plist><dict/></plist>\n% ",
       "<?xml version=\"1.0\"?>\n<plist><dict/></plist>"},
      {"$ cat x\n<plist version=\"1.0\"><array/></plist>$ ", "<plist version=\"1.0\"><array/></plist>"},
      // Two lists pasted one after the other: the first.
      {"a\n<plist><true/></plist>\nb\n<plist><false/></plist>\n", "<plist><true/></plist>"},
      {"\n<?xml?><plist/></plist>\n", nullptr},
      {"% diskutil list\n<plist><dict>", nullptr},
      {"no list", nullptr},
  };
  for (const auto& [text, span] : cases) {
    EXPECT_EQ(propertyListSpan(text), span ? std::optional<std::string_view>(span) : std::nullopt) << text;
  }
}

TEST(ImportDiskListText, ReadsSectionsRowsAndStores) {
  // macOS 11 and later wrap names in U+2068 and U+2069; a Fusion container has two stores.
  auto list = diskListFromText(
      "% diskutil list\n"
      "/dev/disk0 (internal, physical):\n"
      "   #:                       TYPE NAME                    SIZE       IDENTIFIER\n"
      "   0:      GUID_partition_scheme                        *121.3 GB   disk0\n"
      "   2:                 Apple_APFS \u2068Container disk2\u2069         121.1 GB   disk0s2\n"
      "/dev/disk2 (synthesized):\n"
      "   #:                       TYPE NAME                    SIZE       IDENTIFIER\n"
      "   0:      APFS Container Scheme -                      +3.1 TB     disk2\n"
      "                                 Physical Stores disk0s2, disk1s2\n"
      "   1:                APFS Volume \u2068Macintosh HD - Data\u2069   1.2 TB     disk2s1\n"
      "   2:              APFS Snapshot \u2068com.apple.os.update-1\u2069 15.3 GB   disk2s1s1\n"
      "/dev/disk4 (disk image):\n"
      "   #:                       TYPE NAME                    SIZE       IDENTIFIER\n"
      "   0:                  Apple_HFS My Image              +35.8 MB    disk4\n");
  ASSERT_TRUE(list);
  EXPECT_EQ(
      writeJson(*list),
      R"({"AllDisksAndPartitions":[{"Content":"GUID_partition_scheme","DeviceIdentifier":"disk0","Internal":true,)"
      R"("Partitions":[{"Content":"Apple_APFS","DeviceIdentifier":"disk0s2","Size":121100000000}],"Size":121300000000},)"
      R"({"APFSPhysicalStores":[{"DeviceIdentifier":"disk0s2"},{"DeviceIdentifier":"disk1s2"}],)"
      R"("APFSVolumes":[{"DeviceIdentifier":"disk2s1","VolumeName":"Macintosh HD - Data"}],"Content":"",)"
      R"("DeviceIdentifier":"disk2","Size":3100000000000},)"
      R"({"BusProtocol":"Disk Image","Content":"Apple_HFS","DeviceIdentifier":"disk4","Size":35800000,"VolumeName":"My Image"}]})");
  EXPECT_EQ(diskListFromText("no section\n   0:  GUID_partition_scheme  *1 GB disk0\n"), std::nullopt);
}

// macOS 10.15's `df -k`, with inode columns and names with blanks on both sides (its other rows
// come with the imported samples), and an older system's row without them.
constexpr const char* kDf =
    "Filesystem    1024-blocks     Used Available Capacity iused      ifree %iused  Mounted on\n"
    "/dev/disk2s1     15137788  5217396   9920392    35%       1          0  100%   /Volumes/My Disk\n"
    "/dev/disk2s10        4096     1024      3072    25%   /Volumes/Old Style\r\n"
    "/dev/disk7        broken row   /Volumes/Broken\n";

TEST(ImportMountText, FindsTheDfRowOfEachMount) {
  // Each mount and its row, "blocks used available"; "" when there is none.
  const std::tuple<const char*, const char*, const char*> cases[] = {
      {"/dev/disk2s1", "/Volumes/My Disk", "15137788 5217396 9920392"},
      {"/dev/disk2s10", "/Volumes/Old Style", "4096 1024 3072"},
      // A source that is a prefix of another's, and a mount point that is a suffix of another's.
      {"/dev/disk2s", "/Volumes/Old Style", ""},
      {"/dev/disk2s1", "Disk", ""},
      {"/dev/disk7", "/Volumes/Broken", ""},
      {"/dev/disk8", "/Volumes/Absent", ""},
  };
  for (const auto& [from, on, expected] : cases) {
    auto row = findDfRow(kDf, from, on);
    EXPECT_EQ(
        row ? std::to_string(row->blocks) + " " + std::to_string(row->used) + " " + std::to_string(row->available) : "",
        expected)
        << from << " on " << on;
  }
}

TEST(ImportMountText, ReadsDfInItsHeadersUnit) {
  // df's header, its row, and the statfs figures "bsize blocks free".
  const std::tuple<const char*, const char*, const char*> cases[] = {
      {"Filesystem 1024-blocks Used Available Capacity Mounted on", "/dev/disk1s1 1000 400 600 40% /", "4096 250 150"},
      {"Filesystem 512-blocks Used Available Capacity iused ifree %iused Mounted on",
       "/dev/disk1s1 1000 400 600 40% 1 2 0% /", "4096 125 75"},
      {"Filesystem 512-blocks Used Available Capacity Mounted on", "/dev/disk1s1 1001 401 600 40% /", "512 1001 600"},
      {"Filesystem Size Used Avail Capacity iused ifree %iused Mounted on", "/dev/disk1s1 228Gi 14Gi 153Gi 9% 1 2 0% /",
       "4096 59768832 56098816"},
      {"Filesystem Size Used Avail Capacity Mounted on", "/dev/disk1s1 2.0Xi 1Gi 1Gi 50% /", ""},
  };
  for (const auto& [header, row, expected] : cases) {
    auto found = findDfRow(std::string(header) + "\n" + row + "\n", "/dev/disk1s1", "/");
    std::string figures;
    if (found) {
      StatfsFigures f = figuresFromDf(*found);
      figures = std::to_string(f.blockSize) + " " + std::to_string(f.blocks) + " " + std::to_string(f.freeBlocks);
    }
    EXPECT_EQ(figures, expected) << header;
  }
}

TEST(ImportDiskutilText, ReadsInfoSectionsIntoTheirPlistKeys) {
  std::vector<PlistDict> disks = infoFromText(
      "$ diskutil info -all\n"
      "   Device Identifier:         disk4s2\n"
      "   Whole:                     No\n"
      "   Volume Name:               Time: Machine\n"
      "   Mounted:                   Yes\n"
      "   Mount Point:               /Volumes/Time: Machine\n"
      "   Type (Bundle):             hfs\n"
      "   Disk Size:                 2.0 TB (2000054960128 Bytes) (exactly 3906357344 512-Byte-Units)\n"
      "   Device Block Size:         512 Bytes\n"
      "   Device Location:           External\n"
      "   APFS Physical Store:       disk3s2\n"
      "**********\n"
      "   Device Identifier:         disk5\n"
      "   Volume Name:               Not applicable (no file system)\n"
      "   Mounted:                   No\n"
      "   Removable Media:           Removable\n"
      "   Device Identifier:         not a disk\n"
      "   Volume Name:               nobody's\n");
  std::vector<std::string> json;
  for (const PlistDict& disk : disks) json.push_back(writeJson(PlistValue(disk)));
  EXPECT_EQ(json, (std::vector<std::string>{
                      R"({"APFSPhysicalStores":[{"APFSPhysicalStore":"disk3s2"}],"DeviceBlockSize":512,)"
                      R"("DeviceIdentifier":"disk4s2","FilesystemType":"hfs","Internal":false,)"
                      R"("MountPoint":"/Volumes/Time: Machine","Size":2000054960128,"VolumeName":"Time: Machine",)"
                      R"("WholeDisk":false})",
                      R"({"DeviceIdentifier":"disk5","MountPoint":"","RemovableMedia":true})"}));
}

TEST(ImportDiskutilText, ReadsApfsListContainersVolumesAndTheSnapshotAtRoot) {
  auto listing = apfsListFromText(
      "+-- Container disk3 AAAA\n"
      "    APFS Container Reference:     disk3\n"
      "    Size (Capacity Ceiling):      1000 B (1.0 KB)\n"
      "    Capacity Not Allocated:       600 B (600 B)\n"
      "    +-< Physical Store disk0s2 BBBB\n"
      "    |   APFS Physical Store Disk:   disk0s2\n"
      "    +-> Volume disk3s1 CCCC\n"
      "    |   APFS Volume Disk (Role):   disk3s1 (System)\n"
      "    |   Name:                      Mac: HD (Case-sensitive)\n"
      "    |   Mount Point:               Not Mounted\n"
      "    |   Snapshot Disk:             disk3s1s1\n"
      "    |   Snapshot Mount Point:      /\n"
      "    +-> Volume disk3s2 DDDD\n"
      "        APFS Volume Disk (Role):   disk3s2 (No specific role)\n"
      "        Mount Point:               /Volumes/Work\n"
      "+-- Container disk3 AAAA\n"
      "|   +-> Volume Group EEEE\n"
      "|       APFS Volume Disk (Role):   disk3s9 (Data)\n");
  ASSERT_TRUE(listing);
  EXPECT_EQ(writeJson(PlistValue(*listing)),
            R"({"Containers":[{"APFSContainerUUID":"AAAA","CapacityCeiling":1000,"CapacityFree":600,)"
            R"("ContainerReference":"disk3","DesignatedPhysicalStore":"disk0s2",)"
            R"("PhysicalStores":[{"DeviceIdentifier":"disk0s2"}],"Volumes":[{"APFSVolumeUUID":"CCCC",)"
            R"("DeviceIdentifier":"disk3s1","MountedSnapshots":[{"SnapshotBSD":"disk3s1s1","SnapshotMountPoint":"/"}],)"
            R"("Name":"Mac: HD","Roles":["System"]},{"APFSVolumeUUID":"DDDD","DeviceIdentifier":"disk3s2",)"
            R"("MountPoint":"/Volumes/Work","Roles":[]}]}]})");
  EXPECT_EQ(apfsListFromText("APFS Containers (0 found)\n"), std::nullopt);
}

TEST(ImportPastedText, SplitsASessionIntoItsCommandsAndFeedsLines) {
  std::vector<TranscriptPart> parts = splitTranscript(
      "Last login: Tue\n"
      "jo@Mac ~ % sw_vers\n"
      "ProductVersion:\t12.6\n"
      "jo@Mac ~ % ls /Volumes\n"
      "Macintosh HD\n"
      "bash-3.2$ sudo /usr/sbin/diskutil info -plist /dev/disk3s1\n"
      "<plist/>\n"
      "# diskutil info disk3s2\n"
      "   Device Identifier: disk3s2\n"
      "# diskutil info disk3s3\n"
      "   Device Identifier: disk3s3\n"
      "jo@Mac ~ %\n"
      "after the prompt\n");
  std::vector<std::string> seen;
  for (const TranscriptPart& part : parts) seen.push_back(part.file + " <" + part.command + "> " + part.text);
  EXPECT_EQ(seen, (std::vector<std::string>{
                      "sw_vers.txt <sw_vers> ProductVersion:\t12.6\n",
                      "info/disk3s1.plist <sudo /usr/sbin/diskutil info -plist /dev/disk3s1> <plist/>\n",
                      "diskutil-info.txt <diskutil info disk3s2>    Device Identifier: disk3s2\n"
                      "   Device Identifier: disk3s3\n"}));
  EXPECT_TRUE(splitTranscript("/dev/disk1s1 on / (apfs, local)\ndevfs 1 1 0 100% /dev\n").empty());
  EXPECT_EQ(withLineFeeds("a\r\nb\rc\n\r\n"), "a\nb\nc\n\n");
  EXPECT_EQ(withLineFeeds("a\nb\n"), std::nullopt);
  EXPECT_EQ(withLineFeeds("bplist00\r"), std::nullopt);
}

TEST(ImportKnownFacts, SetsSwVersLinesInItsOrderAndRefusesWhatIsNoFact) {
  const std::tuple<const char*, const char*, const char*, const char*> cases[] = {
      {"", "ProductVersion", "10.15.7", "ProductVersion:\t10.15.7\n"},
      {"ProductName:\tmacOS\nBuildVersion:\t21G419\n", "ProductVersion", "12.6.3",
       "ProductName:\tmacOS\nProductVersion:\t12.6.3\nBuildVersion:\t21G419\n"},
      {"ProductName:\t\tmacOS\nProductVersion:\t\t14.1\n", "ProductVersion", "14.1.1",
       "ProductName:\t\tmacOS\nProductVersion:\t\t14.1.1\n"},
      {"", "ProductVersion", "13.2.1", "ProductVersion:\t\t13.2.1\n"},
      {"ProductVersion:\t11.6\n", "BuildVersion", "20G165", "ProductVersion:\t11.6\nBuildVersion:\t20G165\n"},
  };
  for (const auto& [recorded, label, value, expected] : cases)
    EXPECT_EQ(withSwVersLine(recorded, label, value), expected) << label;
  EXPECT_EQ(knownFactsRefusal({.osVersion = "10.15.7"}), std::nullopt);
  for (const KnownFacts& bad : {KnownFacts{.osVersion = "ten"}, KnownFacts{.osVersion = "10..1"},
                                KnownFacts{.build = "21G 419"}, KnownFacts{.productName = "mac\nOS"}}) {
    EXPECT_NE(knownFactsRefusal(bad), std::nullopt);
  }
}

// Parentheses and a curly apostrophe come with the odd names of ImportDumpTest.
TEST(ImportMountText, EncodesMountPointsAsTheServiceGivesThem) {
  const std::pair<const char*, const char*> cases[] = {
      {"/", "file:///"},
      {"/Volumes/My Disk", "file:///Volumes/My%20Disk/"},
      {"/Volumes/A:B", "file:///Volumes/A:B/"},
      {"/Volumes/100% #1?", "file:///Volumes/100%25%20%231%3F/"},
      {"/Volumes/Trailing/", "file:///Volumes/Trailing/"},
      {"Volumes/Relative", nullptr},
  };
  for (const auto& [path, url] : cases) {
    EXPECT_EQ(mountPointUrl(path), url ? std::optional<std::string>(url) : std::nullopt) << path;
  }
}

TEST(ImportMountText, OrdersAndRelatesBsdNames) {
  const std::pair<const char*, const char*> ordered[] = {{"disk2", "disk10"},
                                                         {"disk1", "disk1s1"},
                                                         {"disk1s2", "disk1s10"},
                                                         {"disk1s5", "disk1s5s1"},
                                                         {"disk99s9", "notadisk"}};
  for (const auto& [a, b] : ordered) EXPECT_TRUE(BsdLess()(a, b) && !BsdLess()(b, a)) << a << " " << b;
  EXPECT_EQ(bsdParent("disk1s5s1"), "disk1s5");
  EXPECT_EQ(bsdParent("disk1"), std::nullopt);
  EXPECT_EQ(bsdWhole("disk10s4s1"), "disk10");
}

TEST(ImportDescription, TranslatesOnlyTheNamesOfGuidPartitionMaps) {
  PlistDict gpt{{"DAMediaBSDName", PlistValue("disk0")}, {"DAMediaContent", PlistValue("GUID_partition_scheme")}};
  // The samples' own partitions (EFI, Apple_APFS, Apple_Boot, Apple_HFS, and Windows_NTFS on an
  // FDisk map) come with their imports.
  const std::tuple<const PlistDict*, const char*, const char*> cases[] = {
      {&gpt, "Microsoft Basic Data", "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7"},
      {&gpt, "Some_Future_Type", "Some_Future_Type"},
      {nullptr, "Apple_HFS", "Apple_HFS"},
  };
  for (const auto& [parent, content, expected] : cases) {
    Problems problems;
    PlistDict d = describeDisk("disk0s1", {{"Content", PlistValue(content)}}, {.parent = parent}, "x", problems);
    EXPECT_EQ(d.at("DAMediaContent"), PlistValue(expected)) << content;
  }
  // The registry's own Content is what the service reports, whatever diskutil called it.
  Problems problems;
  PlistDict d = describeDisk("disk0s2", {{"Content", PlistValue("Apple_HFS")}},
                             {.parent = &gpt, .mediaContent = "48465300-0000-11AA-AA11-00306543ECAC"}, "x", problems);
  EXPECT_EQ(d.at("DAMediaContent"), PlistValue("48465300-0000-11AA-AA11-00306543ECAC"));
}

}  // namespace
}  // namespace strandel::importer
