// The sample machines' disk utility and version tool agree with their registries and mount
// tables, so that the demo answers the way the Mac it records would.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <strandel/Machine.hpp>
#include <strandel/Strandel.hpp>

#include "apfs/ApfsListing.hpp"
#include "platform/Machine.hpp"
#include "system/VersionCompare.hpp"
#include "tests/apfs/ListingImage.hpp"
#include "tests/support/Paths.hpp"

namespace strandel::testing {
namespace {

std::optional<PlistValue> readPlistFile(const std::filesystem::path& path) {
  return readPlist(readFile(path));
}

std::string text(const PlistValue* value) { return value && value->asString() ? *value->asString() : ""; }

// What the registry of machine.plist says about one APFS container.
struct RegistryContainer {
  std::string reference, store;
  std::int64_t size = 0;
  std::vector<std::string> volumes;                    // BSD names
  std::map<std::string, PlistArray> roles;             // BSD name to its "Role" (empty when none)
  std::map<std::string, std::string> names;            // BSD name to its volume name
};

void collect(const PlistValue& entry, std::vector<const PlistValue*>& path, std::vector<RegistryContainer>& out) {
  path.push_back(&entry);
  if (text(entry.find("Class")) == "AppleAPFSContainer") {
    RegistryContainer c;
    const PlistValue* properties = entry.find("Properties");
    c.reference = text(properties->find("ContainerReference"));
    c.size = properties->find("Size")->asInteger().value_or(0);
    for (auto it = path.rbegin(); it != path.rend(); ++it) {
      const PlistValue* p = (*it)->find("Properties");
      std::string bsd = p ? text(p->find("BSD Name")) : "";
      if (text((*it)->find("Class")) == "IOMedia" && !bsd.empty()) {
        c.store = bsd;
        break;
      }
    }
    if (const PlistValue* children = entry.find("Children")) {
      for (const PlistValue& child : *children->asArray()) {
        if (text(child.find("Class")) != "AppleAPFSVolume") continue;
        std::string bsd = text(child.find("Properties")->find("BSD Name"));
        c.volumes.push_back(bsd);
        const PlistValue* role = child.find("Properties")->find("Role");
        c.roles[bsd] = role && role->asArray() ? *role->asArray() : PlistArray{};
        c.names[bsd] = text(child.find("Description")->find("DAVolumeName"));
      }
    }
    out.push_back(std::move(c));
  }
  if (const PlistValue* children = entry.find("Children")) {
    for (const PlistValue& child : *children->asArray()) collect(child, path, out);
  }
  path.pop_back();
}

APFSVolumeRole roleCode(const PlistArray& roles) {
  static const std::map<std::string, APFSVolumeRole> codes = {
      {"System", APFSVolumeRoleSystem},     {"Data", APFSVolumeRoleData}, {"Preboot", APFSVolumeRolePreboot},
      {"Recovery", APFSVolumeRoleRecovery}, {"VM", APFSVolumeRoleVM},     {"Backup", APFSVolumeRoleBackup}};
  if (roles.empty() || !roles.front().asString()) return APFSVolumeRoleNone;
  auto it = codes.find(*roles.front().asString());
  return it == codes.end() ? APFSVolumeRoleNone : it->second;
}

class SampleMachine : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    previous_ = platform::current();
    auto error = useMachine(sampleMachine(GetParam()));
    ASSERT_FALSE(error.has_value()) << *error;
  }
  void TearDown() override { platform::setCurrent(previous_); }

 private:
  std::shared_ptr<platform::Machine> previous_;
};

class MadeMachine : public SampleMachine {};

TEST_P(MadeMachine, VersionToolPrintsItsRelease) {
  auto version = ZVGetCurrentSystemString();
  ASSERT_TRUE(version.has_value());
  EXPECT_EQ(trimVersionArgument(*version), *version);
  EXPECT_GE(compareVersionTexts(*version, "10.6"), 0) << *version;
  PlistDict report = ZVGetCurrentSystemDictionary();
  EXPECT_EQ(report["ProductVersion"], PlistValue(*version));
  EXPECT_EQ(report["ProductName"], PlistValue(compareVersionTexts(*version, "11") < 0 ? "Mac OS X" : "macOS"));
  EXPECT_FALSE(text(&report["BuildVersion"]).empty());
  EXPECT_EQ(report.size(), 3u);
}

TEST_P(MadeMachine, ListingAgreesWithTheRegistryAndTheMounts) {
  const std::filesystem::path dir = sampleMachine(GetParam());
  auto machine = readPlistFile(dir / "machine.plist");
  ASSERT_TRUE(machine.has_value());
  std::vector<RegistryContainer> registry;
  std::vector<const PlistValue*> path;
  for (const PlistValue& root : *machine->find("Registry")->asArray()) collect(root, path, registry);

  const std::string version = ZVGetCurrentSystemString().value_or("");
  auto listing = readAPFSListing();
  if (compareVersionTexts(version, "10.12") < 0) {
    EXPECT_FALSE(listing.has_value()) << "this release's disk utility has no apfs verb";
    EXPECT_TRUE(registry.empty());
    return;
  }
  ASSERT_TRUE(listing.has_value());
  const PlistArray* containers = containersOf(*listing);
  ASSERT_NE(containers, nullptr);
  ASSERT_EQ(containers->size(), registry.size());

  std::map<std::string, std::int64_t> freeByDevice;
  for (const PlistValue& mount : *machine->find("Mounts")->asArray()) {
    freeByDevice.emplace(text(mount.find("f_mntfromname")),
                         *mount.find("f_bfree")->asInteger() * *mount.find("f_bsize")->asInteger());
  }

  for (const RegistryContainer& expected : registry) {
    SCOPED_TRACE(expected.reference);
    auto entry = getAPFSContainer(expected.store);
    ASSERT_TRUE(entry.has_value());
    const PlistValue container(std::move(*entry));
    EXPECT_EQ(text(container.find("ContainerReference")), expected.reference);
    EXPECT_EQ(text(&container.find("PhysicalStores")->asArray()->front().asDictionary()->at("DeviceIdentifier")),
              expected.store);
    if (compareVersionTexts(version, "10.13") >= 0) {
      EXPECT_EQ(text(container.find("DesignatedPhysicalStore")), expected.store);
    }
    const std::int64_t ceiling = container.find("CapacityCeiling")->asInteger().value_or(-1);
    const std::int64_t free = container.find("CapacityFree")->asInteger().value_or(-1);
    EXPECT_EQ(ceiling, expected.size);

    std::int64_t inUse = 0;
    std::vector<std::string> listed;
    for (const PlistValue& volume : *container.find("Volumes")->asArray()) {
      std::string bsd = text(volume.find("DeviceIdentifier"));
      listed.push_back(bsd);
      inUse += volume.find("CapacityInUse")->asInteger().value_or(0);
      EXPECT_EQ(*volume.find("Roles"), PlistValue(expected.roles.at(bsd))) << bsd;
      EXPECT_EQ(text(volume.find("Name")), expected.names.at(bsd)) << bsd;
      EXPECT_EQ(getAPFSVolumeRole(bsd), roleCode(expected.roles.at(bsd))) << bsd;
      // A mounted volume (or its snapshot) reports the container's free space.
      for (const auto& [device, bytes] : freeByDevice) {
        if (device == "/dev/" + bsd || device.starts_with("/dev/" + bsd + "s")) {
          EXPECT_EQ(bytes, free) << device;
        }
      }
    }
    EXPECT_EQ(std::set<std::string>(listed.begin(), listed.end()),
              std::set<std::string>(expected.volumes.begin(), expected.volumes.end()));
    EXPECT_GT(free, 0);
    EXPECT_LE(inUse + free, ceiling);
    EXPECT_GT(inUse + free, ceiling - ceiling / 100) << "the container's own overhead stays small";
  }
}

// The machines made by hand, whose disk utility and version tool are written to match them.
// Imported machines replay what a real Mac printed and are checked where they are made.
const std::vector<std::string> kMadeMachines = {"apple-silicon-macos26", "intel-macos10.11", "intel-macos10.12",
                                                "intel-macos10.13", "network-backup"};

std::string testName(const ::testing::TestParamInfo<std::string>& info) {
  std::string name;
  for (char c : info.param) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return name;
}

INSTANTIATE_TEST_SUITE_P(Samples, MadeMachine, ::testing::ValuesIn(kMadeMachines), testName);

// Sierra's disk utility does not fill in the designated store reliably; the first physical
// store names the container's partition there.
TEST(SampleMachines, SierraFindsItsContainerByThePhysicalStore) {
  auto previous = platform::current();
  ASSERT_FALSE(useMachine(sampleMachine("intel-macos10.12")).has_value());
  auto listing = readAPFSListing();
  ASSERT_TRUE(listing.has_value());
  const PlistValue& container = containersOf(*listing)->front();
  EXPECT_EQ(text(container.find("DesignatedPhysicalStore")), "disk1s1");
  for (const char* device : {"disk1s2", "/dev/disk1s2", "/dev/rdisk1s2", "disk2"}) {
    auto entry = getAPFSContainer(device);
    ASSERT_TRUE(entry.has_value()) << device;
    EXPECT_EQ(text(&entry->at("ContainerReference")), "disk2") << device;
  }
  EXPECT_FALSE(getAPFSContainer("disk1s1").has_value());
  EXPECT_TRUE(GetVolumeAPFS("/Volumes/T5 Scratch"));
  EXPECT_FALSE(GetVolumeAPFS("/"));
  platform::setCurrent(previous);
}

TEST(SampleMachines, ElCapitanKnowsNothingOfApfs) {
  auto previous = platform::current();
  ASSERT_FALSE(useMachine(sampleMachine("intel-macos10.11")).has_value());
  EXPECT_EQ(ZVGetCurrentSystemString(), "10.11.6");
  EXPECT_FALSE(readAPFSListing().has_value());
  EXPECT_FALSE(getAPFSContainer("disk0s2").has_value());
  EXPECT_FALSE(GetVolumeAPFS("/"));
  EXPECT_EQ(getAPFSSystemVolume("disk0"), std::nullopt);
  platform::setCurrent(previous);
}

}  // namespace
}  // namespace strandel::testing
