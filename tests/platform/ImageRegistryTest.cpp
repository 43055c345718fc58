#include <gtest/gtest.h>

#include "platform/image/ImageMachine.hpp"
#include "tests/support/ImageBuilder.hpp"
#include "tests/support/TempDir.hpp"

namespace strandel::platform::image {
namespace {

using testing::Entry;
using testing::ImageBuilder;
using testing::ScopedMachine;

Entry plain(const std::string& className, PlistDict properties = {}) {
  Entry e;
  e.className = className;
  e.properties = std::move(properties);
  return e;
}

// A registry shaped like an Apple-silicon Mac's, in small: a device with a property on it, its
// disk and partition scheme, one APFS container with two volumes and a snapshot, and a second
// disk after it.
ImageBuilder macRegistry() {
  Entry device = plain("IONVMeBlockStorageDevice",
                       {{"Protocol Characteristics", PlistValue(PlistDict{{"Physical Interconnect", PlistValue("Apple Fabric")}})},
                        {"ATAPI", PlistValue(false)}});
  Entry& disk = device.child(testing::wholeDisk("disk0", 500277792768));
  disk.properties["Role"] = PlistArray{"not a volume"};
  Entry& scheme = disk.child(plain("IOGUIDPartitionScheme"));
  Entry& part = scheme.child(testing::partition("disk0s2", "7C3457EF-0000-11AA-AA11-00306543ECAC", 494384795648));
  Entry& container = part.child(testing::apfsContainerDisk("disk3", 494384795648));
  Entry& apfs = container.children[0].child(plain("AppleAPFSContainer", {{"ATAPI", PlistValue(true)}}));
  apfs.ioMedia = false;
  Entry& system = apfs.child(testing::volume(testing::volumeOutline("disk3s1", "Macintosh HD", "/", "System")));
  Entry snapshot = testing::volume(testing::volumeOutline("disk3s1s1", "Macintosh HD", "/"));
  snapshot.className = "AppleAPFSSnapshot";
  snapshot.properties.erase("Role");
  system.child(std::move(snapshot));
  apfs.child(testing::volume(testing::volumeOutline("disk3s5", "Data", "/System/Volumes/Data", "Data")));
  scheme.child(testing::partition("disk0s3", "52637672-7900-11AA-AA11-00306543ECAC", 5368664064));

  ImageBuilder image;
  image.add(std::move(device));
  image.add(testing::wholeDisk("disk4", 61530439680, "USB", false));
  return image;
}

std::vector<std::string> bsdNames(Registry& registry, const std::vector<RegistryObject>& objects) {
  std::vector<std::string> names;
  // Objects with no disk description go by their class name.
  for (auto object : objects) {
    auto description = registry.description(object);
    const PlistValue* name = description ? &description->at("DAMediaBSDName") : nullptr;
    names.push_back(name ? *name->asString() : registry.className(object));
  }
  return names;
}

TEST(ImageRegistry, OrderDescendantsAndPropertySearch) {
  ScopedMachine machine(macRegistry());
  Registry& registry = current()->registry();
  EXPECT_EQ(bsdNames(registry, registry.mediaObjects()),
            (std::vector<std::string>{"disk0", "disk0s2", "disk3", "disk3s1", "disk3s1s1", "disk3s5", "disk0s3", "disk4"}));
  auto disk3 = registry.mediaObjectForBSDName("disk3");
  ASSERT_TRUE(disk3.has_value());
  EXPECT_EQ(bsdNames(registry, registry.descendants(*disk3)),
            (std::vector<std::string>{"AppleAPFSContainer", "disk3s1", "disk3s1s1", "disk3s5"}));
  EXPECT_EQ(bsdNames(registry, registry.descendants(*registry.mediaObjectForBSDName("disk0"))),
            (std::vector<std::string>{"IOGUIDPartitionScheme", "disk0s2", "AppleAPFSContainer", "disk3", "AppleAPFSContainer",
                                      "disk3s1", "disk3s1s1", "disk3s5", "disk0s3"}));
  EXPECT_TRUE(registry.descendants(*registry.mediaObjectForBSDName("disk3s5")).empty());
  EXPECT_TRUE(registry.descendants(RegistryObject{9999}).empty());

  // A property is searched on the object, then on its nearest ancestor that has it.
  auto snapshot = *registry.mediaObjectForBSDName("disk3s1s1");
  EXPECT_EQ(registry.searchProperty(*registry.mediaObjectForBSDName("disk3s5"), "Role"), PlistValue(PlistArray{"Data"}));
  EXPECT_EQ(registry.searchProperty(snapshot, "Role"), PlistValue(PlistArray{"System"}));  // not the disk's
  EXPECT_EQ(registry.searchProperty(snapshot, "ATAPI"), PlistValue(true));
  EXPECT_EQ(*registry.searchProperty(snapshot, "Protocol Characteristics")->find("Physical Interconnect"),
            PlistValue("Apple Fabric"));
  EXPECT_EQ(registry.searchProperty(*registry.mediaObjectForBSDName("disk4"), "ATAPI"), std::nullopt);
  EXPECT_EQ(registry.searchProperty(RegistryObject{}, "Role"), std::nullopt);
}

TEST(ImageRegistry, BsdNameLookupTakesTheFirstMediaObjectInOrder) {
  Entry media = plain("IOMedia", {{"BSD Name", PlistValue("disk7")}});
  media.ioMedia = true;  // a media object from which no disk object can be made
  Entry hidden = testing::volume(testing::volumeOutline("disk8", "Hidden"));
  hidden.ioMedia = false;  // a disk object that is no media object
  // Without a "BSD Name" property the description's name counts...
  Entry byDescription = testing::volume(testing::volumeOutline("disk5s1", "Described"));
  byDescription.properties.erase("BSD Name");
  // ...but a property that says otherwise wins over the description.
  Entry renamed = testing::volume(testing::volumeOutline("disk6s1", "Renamed"));
  renamed.properties["BSD Name"] = "disk6s9";
  Entry backup = testing::volume(testing::volumeOutline("disk4s2", "Backup Disk", "/Volumes/Backup Disk", "", "hfs"));
  backup.description->insert_or_assign("DAVolumeUUID", "424fea98-2296-48fd-8dff-0866835572e9");
  backup.description->insert_or_assign("DAMediaUUID", "E09ECFF1-c6dc-11E9-920b-806E6F6E6963");
  ImageBuilder builder;
  builder.add(plain("IOService", {{"BSD Name", PlistValue("disk9")}})).add(std::move(media)).add(std::move(hidden));
  builder.add(testing::volume(testing::volumeOutline("disk2s1", "First")));
  builder.add(testing::volume(testing::volumeOutline("disk2s1", "Second")));
  builder.add(std::move(byDescription)).add(std::move(renamed)).add(std::move(backup));
  ScopedMachine machine(builder);
  Registry& registry = current()->registry();
  EXPECT_EQ(bsdNames(registry, registry.mediaObjects()),
            (std::vector<std::string>{"IOMedia", "disk2s1", "disk2s1", "disk5s1", "disk6s1", "disk4s2"}));

  const struct {
    const char* bsd;
    bool media;
    const char* volumeName;  // of its description; nullptr: none
  } cases[] = {
      {"disk2s1", true, "First"}, {"disk5s1", true, "Described"}, {"disk6s9", true, "Renamed"}, {"disk7", true, nullptr},
      {"disk6s1", false, nullptr}, {"disk8", false, nullptr}, {"disk9", false, nullptr}, {"", false, nullptr},
      {"disk2", false, nullptr},
  };
  for (const auto& c : cases) {
    auto object = registry.mediaObjectForBSDName(c.bsd);
    auto description = registry.descriptionForBSDName(c.bsd);
    EXPECT_EQ(object.has_value(), c.media) << c.bsd;
    EXPECT_EQ(description ? *description->at("DAVolumeName").asString() : "-", c.volumeName ? c.volumeName : "-") << c.bsd;
    EXPECT_TRUE(!object || registry.description(*object) == description) << c.bsd;
  }

  // A description comes with its mount URL and its UUIDs in upper case.
  auto description = registry.descriptionForBSDName("disk4s2");
  ASSERT_NE(description, nullptr);
  EXPECT_EQ(description->at("DAVolumePath"), PlistValue(PlistUrl{"file:///Volumes/Backup%20Disk/"}));
  EXPECT_EQ(description->at("DAVolumeUUID"), PlistValue("424FEA98-2296-48FD-8DFF-0866835572E9"));
  EXPECT_EQ(description->at("DAMediaUUID"), PlistValue("E09ECFF1-C6DC-11E9-920B-806E6F6E6963"));
}

}  // namespace
}  // namespace strandel::platform::image
