// The Mac's view of Linux disks, from probed disks made up here: names, tree shape, the Linux
// nodes, and the APFS listing.
#include "platform/linux/MacView.hpp"

#include <gtest/gtest.h>

namespace strandel::platform::live {
namespace {

// Each media entry of the tree as "BSD name class LinuxDevice", in registry order.
void walk(const PlistArray& entries, std::vector<std::string>& out) {
  for (const PlistValue& entry : entries) {
    const PlistValue* properties = entry.find("Properties");
    const PlistValue* bsd = properties ? properties->find("BSD Name") : nullptr;
    if (bsd) {
      const PlistValue* node = properties->find("LinuxDevice");
      out.push_back(*bsd->asString() + " " + *entry.find("Class")->asString() + " " + (node ? *node->asString() : "-"));
    }
    if (const PlistValue* children = entry.find("Children")) walk(*children->asArray(), out);
  }
}

// The description of the entry reached by child indexes from the top of the tree.
const PlistDict& descriptionAt(const PlistArray& top, std::initializer_list<std::size_t> indexes) {
  const PlistArray* level = &top;
  const PlistValue* entry = nullptr;
  for (std::size_t i : indexes) {
    entry = &level->at(i);
    if (const PlistValue* children = entry->find("Children")) level = children->asArray();
  }
  return *entry->find("Description")->asDictionary();
}

TEST(MacView, namesDisksPartitionsAndContainersAsAMacDoes) {
  apfsdisk::Container container;
  container.uuid = "D08A9FA0-D5A5-458B-813E-EBF9BF5D5338";
  container.blockSize = 4096;
  container.blockCount = 1000;
  container.freeBlocks = 400;
  container.volumes = {
      {0, "Macintosh HD", "00000000-0000-4000-8000-000000000001", apfsdisk::kRoleSystem, false, false, 8192, 0, 0, 0},
      {2, "Data", "00000000-0000-4000-8000-000000000002", apfsdisk::kRoleData, true, true, 4096, 0, 0, 0}};
  ProbedDisk nvme{"gpt", "", {}, std::nullopt, std::nullopt};
  nvme.partitions.push_back({1, 1 << 20, 100 << 20, "C12A7328-F81F-11D2-BA4B-00A0C93EC93B", "EFI System Partition", "",
                             ProbedFileSystem{"vfat", "FAT32", "EFI", "1234-ABCD"}, std::nullopt});
  nvme.partitions.push_back({2, 101 << 20, 4096000, "7C3457EF-0000-11AA-AA11-00306543ECAC", "", "",
                             ProbedFileSystem{"apfs", "", "", ""}, container});
  // A container the reader refused: the partition holds no volume.
  nvme.partitions.push_back({3, 200 << 20, 4096000, "7C3457EF-0000-11AA-AA11-00306543ECAC", "", "",
                             ProbedFileSystem{"apfs", "", "", ""}, std::nullopt});
  ProbedDisk stick{"dos", "", {}, std::nullopt, std::nullopt};
  stick.partitions.push_back(
      {1, 1 << 20, 1 << 30, "07", "", "", ProbedFileSystem{"exfat", "", "STICK", "5F3A-1B2C"}, std::nullopt});

  std::vector<DiskInput> disks(2);
  disks[0].disk = {"nvme0n1", "/dev/nvme0n1", 0, 500ull << 30, false, false, "PCI-Express", true, ""};
  disks[0].probed = nvme;
  disks[0].partitions = {{1, {"/dev/nvme0n1p1", 1}}, {2, {"/dev/nvme0n1p2", 2}}};
  disks[1].disk = {"sda", "/dev/sda", 0, 8ull << 30, true, false, "USB", false, "Ultra Fit"};
  disks[1].probed = stick;
  disks[1].partitions = {{1, {"/dev/sda1", 3}}};
  MacView view = buildMacView(disks, [](dev_t devno) -> std::optional<std::string> {
    if (devno == 3) return "/media/me/My Stick";
    return std::nullopt;
  });

  std::vector<std::string> media;
  walk(view.registry, media);
  EXPECT_EQ(media, (std::vector<std::string>{
                       "disk0 IOMedia /dev/nvme0n1",
                       "disk0s1 IOMedia /dev/nvme0n1p1",
                       "disk0s2 IOMedia /dev/nvme0n1p2",
                       "disk2 AppleAPFSMedia /dev/nvme0n1p2",
                       "disk2s1 AppleAPFSVolume /dev/nvme0n1p2",
                       "disk2s3 AppleAPFSVolume /dev/nvme0n1p2",
                       "disk0s3 IOMedia -",
                       "disk1 IOMedia /dev/sda",
                       "disk1s1 IOMedia /dev/sda1",
                   }));
  const PlistDict& damaged = descriptionAt(view.registry, {0, 0, 2});
  EXPECT_EQ(damaged.count("DAVolumeKind"), 0u);
  ASSERT_EQ(view.names.size(), 5u);
  EXPECT_EQ(view.names[4].bsdName, "disk1s1");

  const PlistDict& stickPartition = descriptionAt(view.registry, {1, 0, 0});
  EXPECT_EQ(*stickPartition.at("DAVolumeKind").asString(), "exfat");
  EXPECT_EQ(*stickPartition.at("DAVolumePath").asString(), "file:///media/me/My%20Stick/");
  EXPECT_EQ(*stickPartition.at("DADeviceProtocol").asString(), "USB");
  EXPECT_EQ(stickPartition.count("DAVolumeUUID"), 0u) << "a FAT serial is no UUID";

  const PlistArray& containers = *view.apfsListing.at("Containers").asArray();
  ASSERT_EQ(containers.size(), 1u);
  const PlistValue& listed = containers[0];
  EXPECT_EQ(*listed.find("ContainerReference")->asString(), "disk2");
  EXPECT_EQ(*listed.find("DesignatedPhysicalStore")->asString(), "disk0s2");
  EXPECT_EQ(listed.find("CapacityFree")->asUnsignedInteger(), 400u * 4096);
  const PlistArray& volumes = *listed.find("Volumes")->asArray();
  ASSERT_EQ(volumes.size(), 2u);
  EXPECT_EQ(*volumes[1].find("DeviceIdentifier")->asString(), "disk2s3");
  EXPECT_EQ(*volumes[1].find("Roles")->asArray()->front().asString(), "Data");
  EXPECT_EQ(volumes[1].find("Encryption")->asBoolean(), true);
}

}  // namespace
}  // namespace strandel::platform::live
