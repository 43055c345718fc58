// The disk utility's APFS listing and the lookups that answer from it, against test images whose
// disk utility prints a listing built in a few words.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include <strandel/Strandel.hpp>

#include "apfs/ApfsListing.hpp"
#include "tests/support/ImageBuilder.hpp"
#include "tests/system/VersionTool.hpp"

using namespace strandel::apfs;

namespace strandel::testing {
namespace {

using Roles = std::vector<std::string>;

/// An image whose `diskutil` counts its runs in root/tmp/diskutil-runs and prints `output` byte
/// for byte, but only when it is given exactly "apfs list -plist" and none of the test's own
/// environment; its version tool prints `version` unless it is absent, when the image has none.
ImageBuilder listingImage(const std::string& output, const std::optional<std::string>& version = "10.15.7") {
  ImageBuilder image;
  image.tool("/usr/sbin/diskutil",
             "#!/bin/sh\n"
             "echo run >> \"${0%/usr/sbin/diskutil}/tmp/diskutil-runs\"\n"
             "[ $# = 3 ] && [ \"$*\" = 'apfs list -plist' ] || exit 1\n"
             "/usr/bin/env | /bin/grep -q -e '^PATH=' -e '^HOME=' && exit 1\n"
             "/bin/cat \"${0%/*}/diskutil.d/apfs-list.plist\"\n");
  image.file("/usr/sbin/diskutil.d/apfs-list.plist", output);
  if (version) addVersionTool(image, *version + "\n");
  return image;
}

/// A volume entry: its identifier (none when absent) and its roles (no "Roles" when absent).
PlistValue apfsVolume(const std::optional<std::string>& identifier, const std::optional<Roles>& roles) {
  PlistDict volume{{"Name", PlistValue("Volume")}};
  if (identifier) volume["DeviceIdentifier"] = *identifier;
  if (roles) {
    PlistArray list;
    for (const auto& role : *roles) list.push_back(PlistValue(role));
    volume["Roles"] = std::move(list);
  }
  return volume;
}

/// A container entry: its "ContainerReference", "DesignatedPhysicalStore" and first
/// "PhysicalStores" identifier (each left out when absent; no store at all gives no
/// "PhysicalStores" array), and its "Volumes".
PlistValue apfsContainer(const std::optional<std::string>& reference,
                         const std::optional<std::string>& designatedStore = std::nullopt,
                         const std::optional<std::string>& firstStore = std::nullopt, PlistArray volumes = {}) {
  PlistDict container{{"Volumes", PlistValue(std::move(volumes))}};
  if (reference) container["ContainerReference"] = *reference;
  if (designatedStore) container["DesignatedPhysicalStore"] = *designatedStore;
  if (firstStore)
    container["PhysicalStores"] = PlistArray{PlistValue(PlistDict{{"DeviceIdentifier", PlistValue(*firstStore)}})};
  return container;
}

std::string listingXml(const std::vector<PlistValue>& containers) {
  return writeXmlPlist(PlistDict{{"Containers", PlistValue(PlistArray(containers.begin(), containers.end()))}});
}

// Only a dictionary at the top is a listing; without a "Containers" array of dictionaries no
// lookup finds anything, however much of disk1 the output holds.
TEST(ReadAPFSListing, GarbageEmptyOtherShapesAndNoDiskUtilityGiveNothing) {
  const PlistValue disk1 = apfsContainer("disk1", "disk0s2", "disk0s2", {apfsVolume("disk1s1", Roles{"System"})});
  const struct {
    std::string output;
    bool listing;
  } cases[] = {
      {writeXmlPlist(PlistDict{{"Containers", PlistValue("disk1")}}), true},
      {writeXmlPlist(PlistDict{{"Containers", PlistValue(PlistArray{PlistValue("disk1")})}}), true},
      {writeXmlPlist(PlistDict{{"containers", PlistValue(PlistArray{disk1})}}), true},
      {writeXmlPlist(PlistArray{disk1}), false},
      {"", false},
      {"Error: -69580: An unknown error occurred\n", false},
  };
  for (const auto& c : cases) {
    ScopedMachine machine(listingImage(c.output));
    EXPECT_EQ(readAPFSListing().has_value(), c.listing) << c.output;
    EXPECT_EQ(getAPFSContainer("disk1"), std::nullopt) << c.output;
    EXPECT_EQ(getAPFSSystemVolume("disk1"), std::nullopt) << c.output;
    EXPECT_EQ(getAPFSVolumeRole("disk1s1"), APFSVolumeRoleNone) << c.output;
  }
  ScopedMachine noDiskUtility(ImageBuilder{});
  EXPECT_FALSE(readAPFSListing().has_value());
  EXPECT_EQ(getAPFSContainer("disk1"), std::nullopt);
}

// The reference of the container that `getAPFSContainer(device)` answers, or nothing.
std::optional<std::string> containerOf(std::string_view device) {
  auto entry = getAPFSContainer(device);
  if (!entry) return std::nullopt;
  auto it = entry->find("ContainerReference");
  if (it == entry->end() || !it->second.asString()) return std::string("<entry without reference>");
  return *it->second.asString();
}

const PlistValue kDisk1 = apfsContainer("disk1", "disk0s2", "disk0s2");
const PlistValue kDisk10 = apfsContainer("disk10", "disk9s2", "disk9s2");

TEST(GetAPFSContainer, ReferenceIsExactAndStoreIsASuffixInEitherListingOrder) {
  const struct {
    const char* device;
    std::optional<std::string> container;
  } cases[] = {
      {"disk1", "disk1"},   {"/dev/disk1", "disk1"},    {"disk10", "disk10"},  {"/dev/rdisk10", std::nullopt},
      {"disk0s2", "disk1"}, {"/dev/rdisk0s2", "disk1"}, {"disk9s2", "disk10"}, {"disk1s1", std::nullopt},
      {"", std::nullopt},   {"DISK1", std::nullopt},
  };
  for (const auto& listing : {listingXml({kDisk1, kDisk10}), listingXml({kDisk10, kDisk1})}) {
    ScopedMachine machine(listingImage(listing));
    for (const auto& c : cases) EXPECT_EQ(containerOf(c.device), c.container) << "device " << c.device;
  }
}

// Before 10.12 the lookup answers nothing without running the disk utility; after, each call
// runs it. On 10.12.x the designated store is not trusted and the first physical store names
// the container's partition; from 10.13 on, and when the version can't be read, the designated one.
TEST(GetAPFSContainer, VersionGateAndStoreNameDependOnTheRunningVersion) {
  const PlistValue twoStores = apfsContainer("disk2", "disk0s2", "disk1s2");
  const struct {
    std::optional<std::string> version;
    std::optional<std::string> forDesignated, forFirstPhysical, forReference;
  } cases[] = {
      {"10.11.6", std::nullopt, std::nullopt, std::nullopt},
      {"10.12", std::nullopt, "disk2", "disk2"},
      {"10.13", "disk2", std::nullopt, "disk2"},
      {std::nullopt, "disk2", std::nullopt, "disk2"},
  };
  for (const auto& c : cases) {
    ScopedMachine machine(listingImage(listingXml({twoStores}), c.version));
    std::string shown = c.version.value_or("<no version tool>");
    EXPECT_EQ(containerOf("/dev/disk0s2"), c.forDesignated) << shown;
    EXPECT_EQ(containerOf("/dev/rdisk1s2"), c.forFirstPhysical) << shown;
    EXPECT_EQ(containerOf("disk2"), c.forReference) << shown;
    EXPECT_EQ(toolRuns(machine.dir(), "diskutil-runs"), c.forReference ? 3 : 0) << shown;
  }
}

// On 10.12 a container without physical stores has no store name; one without a reference is
// found by its store; an empty reference is equal to an argument whose last component is empty,
// while an empty store name, as a suffix of everything, matches nothing. The skim and the parser
// each hold the rule: the plain XML is the skim's, a binary list and XML with a comment between
// values are the parser's.
TEST(GetAPFSContainer, MissingNamesMatchOnlyByWhatIsThere) {
  const std::vector<PlistValue> containers = {apfsContainer("", "", ""), apfsContainer("disk4", "disk3s2"),
                                              apfsContainer(std::nullopt, "disk7s2", "disk7s2")};
  std::string commented = listingXml(containers);
  const std::string containersKey = "<key>Containers</key>";
  commented.replace(commented.find(containersKey), containersKey.size(), "<!-- c -->" + containersKey);
  const struct {
    std::string listing;
    bool skimmed;
  } forms[] = {
      {listingXml(containers), true},
      {writeBinaryPlist(PlistDict{{"Containers", PlistValue(PlistArray(containers.begin(), containers.end()))}}),
       false},
      {commented, false},
  };
  for (const auto& form : forms) {
    const ContainerQuery query{"disk9", "disk9", true};
    ASSERT_EQ(findContainerSkimmed(form.listing, query).has_value(), form.skimmed) << form.listing;
    ScopedMachine machine(listingImage(form.listing, "10.12.6"));
    EXPECT_EQ(containerOf("disk4"), "disk4") << form.listing;
    EXPECT_EQ(containerOf("disk3s2"), std::nullopt) << form.listing;
    EXPECT_EQ(containerOf("/dev/disk7s2"), "<entry without reference>") << form.listing;
    EXPECT_EQ(containerOf("disk9"), std::nullopt) << form.listing;
    EXPECT_EQ(containerOf(""), "") << form.listing;
  }
}

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
  return apfsContainer(disk, "disk0s2", "disk0s2",
                       {apfsVolume(disk + "s1", Roles{"Data"}), apfsVolume(disk + "s2", Roles{"Preboot"}),
                        apfsVolume(disk + "s3", Roles{"Recovery"}), apfsVolume(disk + "s4", Roles{"VM"}),
                        apfsVolume(disk + "s5", Roles{"System"})});
}

// Any version, a binary listing. Only the first role counts; a first match without
// "DeviceIdentifier" ends the search (disk5), other absent keys count as empty, and a container
// without a reference, or with an empty one, is never searched.
TEST(RoleVolumes, FirstRoleAbsentKeysAndDevPrefixOnAnyVersion) {
  const PlistValue disk2 = apfsContainer(
      "disk2", std::nullopt, std::nullopt,
      {apfsVolume("disk2s1", Roles{"Data", "System"}), apfsVolume("disk2s2", Roles{"Recovery", "Preboot"}),
       apfsVolume("disk2s3", Roles{"User", "System"}), apfsVolume("disk2s4", Roles{"System"}),
       apfsVolume("disk2s5", Roles{"Backup"}), apfsVolume("disk2s6", Roles{"VM", "Data"}),
       apfsVolume("disk2s7", Roles{"system"}), apfsVolume("disk2s9", std::nullopt)});
  const PlistValue disk5 =
      apfsContainer("disk5", std::nullopt, std::nullopt,
                    {apfsVolume(std::nullopt, Roles{"System"}), apfsVolume("disk5s2", Roles{"System"}),
                     apfsVolume("disk5s3", Roles{"Data"})});
  PlistValue noVolumes = apfsContainer("disk4");
  noVolumes.asDictionary()->erase("Volumes");
  const PlistArray containers = {
      disk2,
      disk5,
      noVolumes,
      apfsContainer(std::nullopt, std::nullopt, std::nullopt, {apfsVolume("disk6s1", Roles{"System"})}),
      apfsContainer("", std::nullopt, std::nullopt, {apfsVolume("disk7s1", Roles{"System"})}),
      catalinaContainer("disk8")};
  ScopedMachine machine(listingImage(writeBinaryPlist(PlistDict{{"Containers", PlistValue(containers)}}), "10.11.6"));
  const RoleVolumes disk8{"disk8s5", "disk8s1", "disk8s2", "disk8s3"};
  EXPECT_EQ(roleVolumesOf("disk8"), disk8);
  EXPECT_EQ(toolRuns(machine.dir(), "diskutil-runs"), 4);
  EXPECT_EQ(toolRuns(machine.dir(), "sw_vers-runs"), 0);
  for (const char* device : {"/dev/disk8", "/dev/disk8s1", "disk8garbage"})
    EXPECT_EQ(roleVolumesOf(device), disk8) << device;
  for (const char* device : {"/dev/rdisk8", "disk", "dev/disk8", "DISK8", "disk4", "disk6s1"})
    EXPECT_EQ(roleVolumesOf(device), RoleVolumes{}) << device;
  EXPECT_EQ(roleVolumesOf("disk2"), (RoleVolumes{"disk2s4", "disk2s1", std::nullopt, "disk2s2"}));
  EXPECT_EQ(roleVolumesOf("disk5"), (RoleVolumes{std::nullopt, "disk5s3", std::nullopt, std::nullopt}));
  const std::pair<const char*, APFSVolumeRole> roles[] = {
      {"disk2s1", APFSVolumeRoleData},   {"disk2s2", APFSVolumeRoleRecovery}, {"disk2s3", APFSVolumeRoleNone},
      {"disk2s4", APFSVolumeRoleSystem}, {"disk2s5", APFSVolumeRoleBackup},   {"disk2s6", APFSVolumeRoleVM},
      {"disk2s7", APFSVolumeRoleNone},   {"disk2s9", APFSVolumeRoleNone},     {"/dev/disk2s4", APFSVolumeRoleNone},
      {"disk5s2", APFSVolumeRoleSystem}, {"disk7s1", APFSVolumeRoleNone},
  };
  for (const auto& [bsd, role] : roles) EXPECT_EQ(getAPFSVolumeRole(bsd), role) << bsd;
}

// The container test is a text prefix test, so disk1 is searched for disk10's names as well,
// and a disk10 search goes on past a disk1 that does not hold the volume asked for.
TEST(RoleVolumes, Disk1AndDisk10InBothOrders) {
  const PlistValue disk1 = catalinaContainer("disk1");
  const PlistValue disk10 = catalinaContainer("disk10");
  {
    ScopedMachine machine(listingImage(listingXml({disk1, disk10})));
    EXPECT_EQ(getAPFSSystemVolume("disk10s1"), "disk1s5");
    EXPECT_EQ(getAPFSVolumeRole("disk10s5"), APFSVolumeRoleSystem);
  }
  ScopedMachine machine(listingImage(listingXml({disk10, disk1})));
  EXPECT_EQ(getAPFSSystemVolume("disk10s1"), "disk10s5");
  EXPECT_EQ(getAPFSSystemVolume("disk1s1"), "disk1s5");
}

}  // namespace
}  // namespace strandel::testing
