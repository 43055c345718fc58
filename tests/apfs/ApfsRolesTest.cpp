#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include <strandel/Strandel.hpp>

#include "tests/apfs/ListingImage.hpp"

namespace strandel::testing {
namespace {

using Roles = std::vector<std::string>;

// The answers of the four role-volume lookups for one device.
struct RoleVolumes {
  std::optional<std::string> system, data, preboot, recovery;
  friend bool operator==(const RoleVolumes&, const RoleVolumes&) = default;
};

RoleVolumes roleVolumesOf(std::string_view device) {
  return {getAPFSSystemVolume(device), getAPFSDataVolume(device), getAPFSPrebootVolume(device),
          getAPFSRecoveryVolume(device)};
}

std::ostream& operator<<(std::ostream& out, const RoleVolumes& r) {
  auto show = [](const std::optional<std::string>& s) { return s ? *s : std::string("-"); };
  return out << show(r.system) << " " << show(r.data) << " " << show(r.preboot) << " " << show(r.recovery);
}

// A 10.15-shaped container: BSD numbers do not follow the roles.
PlistValue catalinaContainer(const std::string& disk) {
  return apfsContainer(disk, "disk0s2", "disk0s2", {apfsVolume(disk + "s1", Roles{"Data"}), apfsVolume(disk + "s2", Roles{"Preboot"}),
                                    apfsVolume(disk + "s3", Roles{"Recovery"}), apfsVolume(disk + "s4", Roles{"VM"}),
                                    apfsVolume(disk + "s5", Roles{"System"})});
}

TEST(RoleVolumes, ContainerOrVolumeWithOrWithoutDevPrefix) {
  ScopedMachine machine(listingImage(listingXml({catalinaContainer("disk3")})));
  const RoleVolumes expected{"disk3s5", "disk3s1", "disk3s2", "disk3s3"};
  for (const char* device : {"disk3", "/dev/disk3", "disk3s5", "/dev/disk3s1", "disk3s99", "disk3garbage"})
    EXPECT_EQ(roleVolumesOf(device), expected) << device;
  for (const char* device : {"/dev/rdisk3", "disk", "disk2", "", "/dev/", "dev/disk3", "DISK3"})
    EXPECT_EQ(roleVolumesOf(device), RoleVolumes{}) << device;
}

// The container test is a text prefix test, so disk1 is searched for disk10's names as well.
TEST(RoleVolumes, Disk1AndDisk10InBothOrders) {
  const PlistValue disk1 = catalinaContainer("disk1");
  const PlistValue disk10 = catalinaContainer("disk10");
  {
    ScopedMachine machine(listingImage(listingXml({disk1, disk10})));
    EXPECT_EQ(getAPFSSystemVolume("disk10s1"), "disk1s5");
    EXPECT_EQ(getAPFSSystemVolume("/dev/disk10"), "disk1s5");
    EXPECT_EQ(getAPFSSystemVolume("disk1s1"), "disk1s5");
    EXPECT_EQ(getAPFSVolumeRole("disk10s5"), APFSVolumeRoleSystem);
    EXPECT_EQ(getAPFSVolumeRole("disk10s1"), APFSVolumeRoleData);
    EXPECT_EQ(getAPFSVolumeRole("disk1s4"), APFSVolumeRoleVM);
  }
  {
    ScopedMachine machine(listingImage(listingXml({disk10, disk1})));
    EXPECT_EQ(getAPFSSystemVolume("disk10s1"), "disk10s5");
    EXPECT_EQ(getAPFSSystemVolume("disk1s1"), "disk1s5");
    EXPECT_EQ(getAPFSVolumeRole("disk10s5"), APFSVolumeRoleSystem);
    EXPECT_EQ(getAPFSVolumeRole("disk1s5"), APFSVolumeRoleSystem);
  }
}

TEST(RoleVolumes, DiskTenSearchesPassOverADisk1WithoutTheRole) {
  const PlistValue disk1 = apfsContainer("disk1", std::nullopt, std::nullopt, {apfsVolume("disk1s1", Roles{"Preboot"})});
  ScopedMachine machine(listingImage(listingXml({disk1, catalinaContainer("disk10")})));
  EXPECT_EQ(roleVolumesOf("disk10"), (RoleVolumes{"disk10s5", "disk10s1", "disk1s1", "disk10s3"}));
}

TEST(RoleVolumes, OnlyTheFirstRoleCounts) {
  const PlistValue container = apfsContainer(
      "disk2", std::nullopt, std::nullopt,
      {apfsVolume("disk2s1", Roles{"Data", "System"}), apfsVolume("disk2s2", Roles{"Recovery", "Preboot"}),
       apfsVolume("disk2s3", Roles{"User", "System"}), apfsVolume("disk2s4", Roles{"System"}),
       apfsVolume("disk2s5", Roles{"Backup"}), apfsVolume("disk2s6", Roles{"VM", "Data"}),
       apfsVolume("disk2s7", Roles{"system"}), apfsVolume("disk2s8", Roles{}), apfsVolume("disk2s9", std::nullopt),
       apfsVolume("disk2s10", Roles{"Update"})});
  ScopedMachine machine(listingImage(listingXml({container})));
  EXPECT_EQ(roleVolumesOf("disk2"), (RoleVolumes{"disk2s4", "disk2s1", std::nullopt, "disk2s2"}));

  const std::vector<std::pair<const char*, APFSVolumeRole>> roles = {
      {"disk2s1", APFSVolumeRoleData},   {"disk2s2", APFSVolumeRoleRecovery}, {"disk2s3", APFSVolumeRoleNone},
      {"disk2s4", APFSVolumeRoleSystem}, {"disk2s5", APFSVolumeRoleBackup},   {"disk2s6", APFSVolumeRoleVM},
      {"disk2s7", APFSVolumeRoleNone},   {"disk2s8", APFSVolumeRoleNone},     {"disk2s9", APFSVolumeRoleNone},
      {"disk2s10", APFSVolumeRoleNone},  {"disk2s11", APFSVolumeRoleNone},    {"/dev/disk2s4", APFSVolumeRoleNone},
      {"disk2", APFSVolumeRoleNone},     {"", APFSVolumeRoleNone},
  };
  for (const auto& [bsd, role] : roles) EXPECT_EQ(getAPFSVolumeRole(bsd), role) << bsd;
}

TEST(RoleVolumes, AFirstMatchWithoutIdentifierEndsTheSearch) {
  const PlistValue disk2 = apfsContainer("disk2", std::nullopt, std::nullopt,
                                         {apfsVolume(std::nullopt, Roles{"System"}), apfsVolume("disk2s2", Roles{"System"}),
                                          apfsVolume("disk2s3", Roles{"Data"})});
  const PlistValue disk2Again = apfsContainer("disk2", std::nullopt, std::nullopt, {apfsVolume("disk2s9", Roles{"System"})});
  ScopedMachine machine(listingImage(listingXml({disk2, disk2Again})));
  EXPECT_EQ(getAPFSSystemVolume("disk2"), std::nullopt);
  EXPECT_EQ(getAPFSDataVolume("disk2"), "disk2s3");
  EXPECT_EQ(getAPFSVolumeRole("disk2s2"), APFSVolumeRoleSystem);
  EXPECT_EQ(getAPFSVolumeRole("disk2s9"), APFSVolumeRoleSystem);
}

TEST(RoleVolumes, AbsentKeysCountAsEmpty) {
  PlistValue noVolumes = apfsContainer("disk4");
  noVolumes.asDictionary()->erase("Volumes");
  PlistValue firstRoleNotText = apfsContainer("disk5", std::nullopt, std::nullopt, {apfsVolume("disk5s1", Roles{})});
  (*(*firstRoleNotText.asDictionary())["Volumes"].asArray())[0].asDictionary()->insert_or_assign(
      "Roles", PlistValue(PlistArray{PlistValue(std::int64_t{0}), PlistValue("System")}));
  const PlistValue noReference = apfsContainer(std::nullopt, std::nullopt, std::nullopt, {apfsVolume("disk6s1", Roles{"System"})});
  const PlistValue emptyReference = apfsContainer("", std::nullopt, std::nullopt, {apfsVolume("disk7s1", Roles{"System"})});
  ScopedMachine machine(listingImage(
      listingXml({noVolumes, firstRoleNotText, noReference, emptyReference, catalinaContainer("disk8")})));
  EXPECT_EQ(roleVolumesOf("disk4"), RoleVolumes{});
  EXPECT_EQ(roleVolumesOf("disk5"), RoleVolumes{});
  EXPECT_EQ(getAPFSVolumeRole("disk5s1"), APFSVolumeRoleNone);
  EXPECT_EQ(roleVolumesOf("disk6s1"), RoleVolumes{});
  EXPECT_EQ(getAPFSVolumeRole("disk6s1"), APFSVolumeRoleNone);
  EXPECT_EQ(getAPFSVolumeRole("disk7s1"), APFSVolumeRoleNone);
  EXPECT_EQ(getAPFSSystemVolume("disk8"), "disk8s5");
}

TEST(RoleVolumes, UnreadableListingsGiveNothing) {
  const std::vector<std::string> outputs = {
      "",
      "<?xml version=\"1.0\"?><plist><dict><key>Containers</key>",
      "Error: -69580: An unknown error occurred\n",
      writeXmlPlist(PlistArray{catalinaContainer("disk3")}),
      writeXmlPlist(PlistValue("disk3")),
      writeXmlPlist(PlistDict{{"Containers", PlistValue(PlistArray{})}}),
      writeXmlPlist(PlistDict{{"containers", PlistValue(PlistArray{catalinaContainer("disk3")})}}),
  };
  for (const auto& output : outputs) {
    ScopedMachine machine(listingImage(output));
    EXPECT_EQ(roleVolumesOf("disk3"), RoleVolumes{}) << output;
    EXPECT_EQ(getAPFSVolumeRole("disk3s5"), APFSVolumeRoleNone) << output;
  }
}

// The role lookups do not depend on the running version, and each runs the disk utility.
TEST(RoleVolumes, NoVersionGateAndOneRunPerCall) {
  ScopedMachine machine(listingImage(listingXml({catalinaContainer("disk3")}), "10.11.6"));
  EXPECT_EQ(roleVolumesOf("disk3"), (RoleVolumes{"disk3s5", "disk3s1", "disk3s2", "disk3s3"}));
  EXPECT_EQ(getAPFSVolumeRole("disk3s4"), APFSVolumeRoleVM);
  EXPECT_EQ(toolRuns(machine.dir(), "diskutil-runs"), 5);
  EXPECT_EQ(toolRuns(machine.dir(), "sw_vers-runs"), 0);
}

TEST(RoleVolumes, ReadsTheRealListingOfAnAppleSiliconMac) {
  const PlistValue iBootSystem = apfsContainer(
      "disk1", "disk0s1", "disk0s1",
      {apfsVolume("disk1s1", Roles{"Preboot"}, "iSCPreboot"), apfsVolume("disk1s2", Roles{"xART"}, "xART"),
       apfsVolume("disk1s3", Roles{"Hardware"}, "Hardware"), apfsVolume("disk1s4", Roles{"Recovery"}, "Recovery")});
  const PlistValue macOS = apfsContainer(
      "disk3", "disk0s2", "disk0s2",
      {apfsVolume("disk3s1", Roles{"System"}, "Macintosh HD"), apfsVolume("disk3s2", Roles{"Preboot"}),
       apfsVolume("disk3s3", Roles{"Recovery"}), apfsVolume("disk3s4", Roles{"Update"}),
       apfsVolume("disk3s5", Roles{"Data"}, "Macintosh HD - Data"), apfsVolume("disk3s6", Roles{"VM"})});
  ScopedMachine machine(listingImage(writeBinaryPlist(PlistDict{{"Containers", PlistValue(PlistArray{iBootSystem, macOS})}})));
  EXPECT_EQ(roleVolumesOf("disk1"), (RoleVolumes{std::nullopt, std::nullopt, "disk1s1", "disk1s4"}));
  EXPECT_EQ(roleVolumesOf("disk3s1"), (RoleVolumes{"disk3s1", "disk3s5", "disk3s2", "disk3s3"}));
  EXPECT_EQ(getAPFSVolumeRole("disk1s2"), APFSVolumeRoleNone);
  EXPECT_EQ(getAPFSVolumeRole("disk3s6"), APFSVolumeRoleVM);
}

}  // namespace
}  // namespace strandel::testing
