// The live host's disks as a Mac shows them, on real block devices (loop devices made here) and
// on disk image files (--disk), each figure held against blkid and blockdev. (That the fixture
// containers read as fsapfsinfo reads them, the container reader's tests check.)
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include <strandel/Machine.hpp>
#include <strandel/Strandel.hpp>
#include <strandel/StrandelFramework.hpp>
#include <strandel/VolumeKeys.hpp>

#include "apfsdisk/Container.hpp"
#include "platform/Machine.hpp"
#include "tests/support/ApfsFixture.hpp"
#include "tests/support/Paths.hpp"
#include "tests/support/TempDir.hpp"
#include "tests/support/ToolRun.hpp"

namespace strandel::platform {
namespace {

using testing::runCommand;

std::string firstLine(const std::string& command) {
  std::string out = runCommand(command).out;
  return out.substr(0, out.find('\n'));
}

// The BSD name of the registry entry whose "LinuxDevice" is `node` (the first in registry order).
std::string bsdNameOfLinuxDevice(const PlistArray& entries, const std::string& node) {
  for (const PlistValue& entry : entries) {
    const PlistValue* properties = entry.find("Properties");
    const PlistValue* device = properties ? properties->find("LinuxDevice") : nullptr;
    if (device && device->asString() && *device->asString() == node) return *properties->find("BSD Name")->asString();
    if (const PlistValue* children = entry.find("Children"); children && children->asArray()) {
      std::string found = bsdNameOfLinuxDevice(*children->asArray(), node);
      if (!found.empty()) return found;
    }
  }
  return "";
}

// The volume records of the list whose BSD name starts with one of `prefixes`.
std::map<std::string, PlistDict> recordsOf(const PlistArray& list, const std::vector<std::string>& prefixes) {
  std::map<std::string, PlistDict> found;
  for (const PlistValue& record : list) {
    const std::string* bsd = record.find(kVolumeBsdName) ? record.find(kVolumeBsdName)->asString() : nullptr;
    if (!bsd) continue;
    for (const std::string& prefix : prefixes)
      if (bsd->starts_with(prefix + "s")) found[*bsd] = *record.asDictionary();
  }
  return found;
}

std::string text(const PlistDict& record, std::string_view key) {
  auto found = record.find(key);
  return found != record.end() && found->second.asString() ? *found->second.asString() : "";
}

// A sparse disk image with a GPT, attached as a loop device with its partitions: an EFI FAT
// partition, an APFS container whose one volume is a System volume, an exFAT partition and an
// ext4 one, mounted. Everything is undone in the destructor, whatever failed. (What the roles of
// a container's volumes answer, the role test of disk image files checks: a file is read as a
// loop device is.)
class LoopDisk : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0 || !std::filesystem::exists("/dev/loop-control"))
      GTEST_SKIP() << "no loop devices here (needs root and /dev/loop-control)";
    if (!testing::haveMkapfs()) GTEST_SKIP() << "mkapfs is not installed";
    image_ = dir_.str() + "/disk.img";
    ASSERT_EQ(runCommand("truncate -s 600M " + image_).status, 0);
    const std::string table =
        "label: gpt\n"
        "size=40MiB, type=C12A7328-F81F-11D2-BA4B-00A0C93EC93B, name=\"EFI System Partition\"\n"
        "size=300MiB, type=7C3457EF-0000-11AA-AA11-00306543ECAC, name=\"Container\"\n"
        "size=100MiB, type=EBD0A0A2-B9E5-4433-87C0-68B6B72699C7, name=\"TRANSFER\"\n"
        "type=0FC63DAF-8483-4772-8E79-3D69D8477DE4, name=\"linux\"\n";
    ASSERT_EQ(runCommand("printf '" + table + "' | sfdisk -q " + image_).status, 0);
    auto attached = runCommand("losetup -P -f --show " + image_);
    if (attached.status != 0) GTEST_SKIP() << "no free loop device";
    loop_ = attached.out.substr(0, attached.out.find('\n'));
    if (!std::filesystem::exists(part(1))) runCommand("partx -a " + loop_ + " 2>/dev/null");
    ASSERT_TRUE(std::filesystem::exists(part(4))) << "the partitions of " << loop_ << " did not appear";
    ASSERT_EQ(runCommand("mkfs.vfat -n EFI " + part(1) + " >/dev/null 2>&1").status, 0);
    ASSERT_EQ(testing::makeApfsFixture(
                  part(2), {{"Macintosh HD", "0B000000-0000-4000-8000-000000000001", apfsdisk::kRoleSystem}}),
              "");
    ASSERT_EQ(runCommand("apfsck " + part(2) + " >/dev/null 2>&1").status, 0) << "apfsck refuses the container";
    ASSERT_EQ(runCommand("mkfs.exfat -L TRANSFER " + part(3) + " >/dev/null 2>&1").status, 0);
    ASSERT_EQ(runCommand("mkfs.ext4 -q -L linux " + part(4) + " 2>&1").status, 0);
    mountPoint_ = dir_.str() + "/mnt";
    std::filesystem::create_directory(mountPoint_);
    ASSERT_EQ(::mount(part(4).c_str(), mountPoint_.c_str(), "ext4", MS_RDONLY, nullptr), 0);
    mounted_ = true;
    useLiveMachine();
  }

  void TearDown() override {
    if (mounted_) ::umount2(mountPoint_.c_str(), MNT_DETACH);
    if (!loop_.empty()) runCommand("losetup -d " + loop_);
    // The next test must not see this disk through a machine that read it.
    useLiveMachine();
  }

  std::string part(int n) const { return loop_ + "p" + std::to_string(n); }

  testing::TempDir dir_;
  std::string image_, loop_, mountPoint_;
  bool mounted_ = false;
};

TEST_F(LoopDisk, showsTheDiskAsAMacWouldAndAgreesWithBlkid) {
  auto tree = current()->registry().tree();
  ASSERT_TRUE(tree);
  const std::string disk = bsdNameOfLinuxDevice(*tree, loop_);
  ASSERT_FALSE(disk.empty()) << "no registry entry names " << loop_;
  // The container disk is the synthesized one below the APFS partition (how the tree is laid
  // out, the Mac view's own test checks).
  auto listed = getAPFSContainer(disk + "s2");
  ASSERT_TRUE(listed);
  const std::string container = *listed->find("ContainerReference")->second.asString();

  StrandelFramework framework;
  auto records = recordsOf(framework.volumeList(), {disk, container});
  // The EFI partition and ext4 are dropped, as a Mac drops them.
  ASSERT_EQ(records.size(), 2u);
  const PlistDict& apfs = records[container + "s1"];
  const PlistDict& exfat = records[disk + "s3"];
  EXPECT_EQ(text(apfs, kVolumeName), "Macintosh HD");
  EXPECT_EQ(text(apfs, kVolumeKind), "apfs");
  EXPECT_EQ(text(exfat, kVolumeName), firstLine("blkid -p -o value -s LABEL " + part(3)));
  EXPECT_EQ(text(exfat, kVolumeKind), "exfat");
  EXPECT_EQ(text(exfat, kVolumeMediaUUID),
            firstLine("blkid -p -o value -s PART_ENTRY_UUID " + part(3) + " | tr a-f A-F"));
  EXPECT_EQ(exfat.at(std::string(kVolumeSize)).asNumber(), std::stod(firstLine("blockdev --getsize64 " + part(3))));
  EXPECT_EQ(text(apfs, kVolumeUUID), "0B000000-0000-4000-8000-000000000001");

  EXPECT_EQ(getVolumeMountFromName(mountPoint_), "/dev/" + disk + "s4");
  EXPECT_EQ(getVolumeMountOnName(disk + "s4"), mountPoint_);
}

// A file attached read-only as a loop device, detached when the value goes.
struct ReadOnlyLoop {
  explicit ReadOnlyLoop(const std::string& file) {
    auto attached = runCommand("losetup -r -f --show '" + file + "' 2>/dev/null");
    if (attached.status == 0) device = attached.out.substr(0, attached.out.find('\n'));
  }
  ~ReadOnlyLoop() {
    if (!device.empty()) runCommand("losetup -d " + device);
  }
  std::string device;
};

// The answer of the tool for a disk image file, read as a property list.
std::optional<PlistValue> answerForDisk(const std::string& file, std::vector<std::string> command) {
  std::vector<std::string> arguments{"--disk", file, "--format", "plist"};
  arguments.insert(arguments.end(), command.begin(), command.end());
  auto run = testing::runStrandel(arguments);
  if (run.status != 0) return std::nullopt;
  return readPlist(run.out);
}

TEST(DiskImage, listsTheVolumesOfImagesMacosWrote) {
  std::string dir = testing::realWorldDir();
  if (dir.empty()) GTEST_SKIP() << "no ../shared/real-world beside the checkout";
  struct Case {
    std::string file, bsdName, name, uuid, kind;
  };
  const std::vector<Case> cases = {
      {"apfs-container_hdiutil_one-volume.raw", "disk1s1", "apfs_test", "458ED10D-8AC3-4AF1-8DFD-3954D151A3F3", "apfs"},
      {"hfsplus-volume_hdiutil.raw", "disk0", "hfsplus_test", "AA87CDC6-8430-343D-A2A3-4CF46521E8F8", "hfs"},
  };
  for (const Case& c : cases) {
    auto list = answerForDisk(dir + "/disk-images/" + c.file, {"volumes"});
    ASSERT_TRUE(list && list->asArray()) << c.file;
    ASSERT_EQ(list->asArray()->size(), 1u) << c.file;
    const PlistDict& record = *list->asArray()->front().asDictionary();
    EXPECT_EQ(text(record, kVolumeBsdName), c.bsdName) << c.file;
    EXPECT_EQ(text(record, kVolumeName), c.name) << c.file;
    EXPECT_EQ(text(record, kVolumeUUID), c.uuid) << c.file;
    EXPECT_EQ(text(record, kVolumeKind), c.kind) << c.file;
  }
  EXPECT_EQ(testing::runStrandel({"--disk", dir + "/disk-images/missing.raw", "volumes"}).status, 2);

  // The same images attached as loop devices.
  if (::geteuid() != 0 || !std::filesystem::exists("/dev/loop-control"))
    GTEST_SKIP() << "no loop devices here (needs root and /dev/loop-control)";
  for (const Case& c : cases) {
    ReadOnlyLoop loop(dir + "/disk-images/" + c.file);
    if (loop.device.empty()) GTEST_SKIP() << "no free loop device";
    useLiveMachine();
    auto tree = current()->registry().tree();
    ASSERT_TRUE(tree);
    const std::string disk = bsdNameOfLinuxDevice(*tree, loop.device);
    ASSERT_FALSE(disk.empty()) << c.file;
    int found = 0;
    for (const PlistValue& record : StrandelFramework().volumeList()) {
      const PlistDict& fields = *record.asDictionary();
      if (text(fields, kVolumeUUID) != c.uuid) continue;
      ++found;
      // A bare volume is the whole disk; a bare container's volume is on its synthesized disk.
      if (c.kind == "hfs") {
        EXPECT_EQ(text(fields, kVolumeBsdName), disk);
      } else {
        EXPECT_NE(text(fields, kVolumeBsdName), disk + "s1");
      }
    }
    // Another copy of the same image attached elsewhere would list the same UUID again.
    EXPECT_GE(found, 1) << c.file;
  }
  useLiveMachine();
}

TEST(DiskImage, fixtureRolesAnswerTheRoleLookups) {
  if (!testing::haveMkapfs()) GTEST_SKIP() << "mkapfs is not installed";
  testing::TempDir dir;
  const std::string file = dir.str() + "/roles.img";
  ASSERT_EQ(runCommand("truncate -s 128M " + file).status, 0);
  ASSERT_EQ(testing::makeApfsFixture(
                file, {{"Macintosh HD", "0C000000-0000-4000-8000-000000000001", apfsdisk::kRoleSystem},
                       {"Macintosh HD - Data", "0C000000-0000-4000-8000-000000000002", apfsdisk::kRoleData},
                       {"Preboot", "0C000000-0000-4000-8000-000000000003", apfsdisk::kRolePreboot},
                       {"Recovery", "0C000000-0000-4000-8000-000000000004", apfsdisk::kRoleRecovery},
                       {"VM", "0C000000-0000-4000-8000-000000000005", apfsdisk::kRoleVM}}),
            "");
  auto list = answerForDisk(file, {"volumes"});
  ASSERT_TRUE(list && list->asArray());
  ASSERT_EQ(list->asArray()->size(), 1u);
  EXPECT_EQ(text(*list->asArray()->front().asDictionary(), kVolumeName), "Macintosh HD");
  const std::vector<std::pair<std::string, std::string>> roles = {
      {"system", "disk1s1"}, {"data", "disk1s2"}, {"preboot", "disk1s3"}, {"recovery", "disk1s4"}};
  for (const auto& [role, volume] : roles) {
    auto answer = answerForDisk(file, {"apfs", role, "disk1"});
    ASSERT_TRUE(answer && answer->asString()) << role;
    EXPECT_EQ(*answer->asString(), volume) << role;
  }
}

}  // namespace
}  // namespace strandel::platform
