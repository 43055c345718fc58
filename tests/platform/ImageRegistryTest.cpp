#include <gtest/gtest.h>

#include <memory>

#include "platform/image/ImageMachine.hpp"
#include "tests/support/ImageBuilder.hpp"
#include "tests/support/TempDir.hpp"

namespace strandel::platform::image {
namespace {

using testing::Entry;
using testing::ImageBuilder;

struct LoadedImage {
  testing::TempDir dir;
  std::shared_ptr<Machine> machine;
};

std::unique_ptr<LoadedImage> load(const ImageBuilder& image) {
  auto loaded = std::make_unique<LoadedImage>();
  image.write(loaded->dir.path());
  LoadResult result = loadMachine(loaded->dir.str());
  EXPECT_NE(result.machine, nullptr) << result.error;
  loaded->machine = result.machine;
  return loaded;
}

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

TEST(ImageRegistry, MediaObjectsComeInRegistryOrder) {
  auto image = load(macRegistry());
  Registry& registry = image->machine->registry();
  EXPECT_EQ(bsdNames(registry, registry.mediaObjects()),
            (std::vector<std::string>{"disk0", "disk0s2", "disk3", "disk3s1", "disk3s1s1", "disk3s5", "disk0s3", "disk4"}));
}

TEST(ImageRegistry, IOMediaFlagOverridesTheDescriptionRule) {
  Entry media = plain("IOMedia", {{"BSD Name", PlistValue("disk7")}});
  media.ioMedia = true;  // a media object from which no disk object can be made
  Entry hidden = testing::volume(testing::volumeOutline("disk8", "Hidden", "", "", "hfs"));
  hidden.ioMedia = false;
  ImageBuilder builder;
  builder.add(std::move(media)).add(std::move(hidden)).add(plain("IOService"));
  auto image = load(builder);
  Registry& registry = image->machine->registry();
  auto disk7 = registry.mediaObjectForBSDName("disk7");
  ASSERT_TRUE(disk7.has_value());
  EXPECT_EQ(registry.mediaObjects(), std::vector<RegistryObject>{*disk7});
  EXPECT_EQ(registry.description(*disk7), nullptr);
  EXPECT_EQ(registry.mediaObjectForBSDName("disk8"), std::nullopt);
}

TEST(ImageRegistry, DescendantsAreEverythingBelowInRegistryOrder) {
  auto image = load(macRegistry());
  Registry& registry = image->machine->registry();
  auto disk3 = registry.mediaObjectForBSDName("disk3");
  ASSERT_TRUE(disk3.has_value());
  EXPECT_EQ(bsdNames(registry, registry.descendants(*disk3)),
            (std::vector<std::string>{"AppleAPFSContainer", "disk3s1", "disk3s1s1", "disk3s5"}));
  auto disk0 = registry.mediaObjectForBSDName("disk0");
  EXPECT_EQ(bsdNames(registry, registry.descendants(*disk0)),
            (std::vector<std::string>{"IOGUIDPartitionScheme", "disk0s2", "AppleAPFSContainer", "disk3", "AppleAPFSContainer",
                                      "disk3s1", "disk3s1s1", "disk3s5", "disk0s3"}));
  EXPECT_TRUE(registry.descendants(*registry.mediaObjectForBSDName("disk3s5")).empty());
  EXPECT_TRUE(registry.descendants(*registry.mediaObjectForBSDName("disk4")).empty());
  EXPECT_TRUE(registry.descendants(RegistryObject{}).empty());
  EXPECT_TRUE(registry.descendants(RegistryObject{9999}).empty());
}

TEST(ImageRegistry, PropertySearchClimbsToTheNearestAncestorThatHasIt) {
  auto image = load(macRegistry());
  Registry& registry = image->machine->registry();
  auto snapshot = *registry.mediaObjectForBSDName("disk3s1s1");
  auto data = *registry.mediaObjectForBSDName("disk3s5");
  auto disk4 = *registry.mediaObjectForBSDName("disk4");

  EXPECT_EQ(registry.searchProperty(data, "Role"), PlistValue(PlistArray{"Data"}));
  // The snapshot has no role of its own: its volume's is the nearest, not the disk's further up.
  EXPECT_EQ(registry.searchProperty(snapshot, "Role"), PlistValue(PlistArray{"System"}));
  EXPECT_EQ(registry.searchProperty(snapshot, "ATAPI"), PlistValue(true));
  EXPECT_EQ(*registry.searchProperty(snapshot, "Protocol Characteristics")->find("Physical Interconnect"),
            PlistValue("Apple Fabric"));
  EXPECT_EQ(registry.searchProperty(snapshot, "BSD Name"), PlistValue("disk3s1s1"));
  EXPECT_EQ(registry.searchProperty(disk4, "ATAPI"), std::nullopt);
  EXPECT_EQ(registry.searchProperty(data, "DiskImageURL"), std::nullopt);
  EXPECT_EQ(registry.searchProperty(RegistryObject{}, "Role"), std::nullopt);
}

TEST(ImageRegistry, ClassNames) {
  auto image = load(macRegistry());
  Registry& registry = image->machine->registry();
  EXPECT_EQ(registry.className(*registry.mediaObjectForBSDName("disk3s1s1")), "AppleAPFSSnapshot");
  EXPECT_EQ(registry.className(*registry.mediaObjectForBSDName("disk3s1")), "AppleAPFSVolume");
  EXPECT_EQ(registry.className(*registry.mediaObjectForBSDName("disk3")), "AppleAPFSMedia");
  EXPECT_EQ(registry.className(*registry.mediaObjectForBSDName("disk0")), "IOMedia");
  EXPECT_EQ(registry.className(RegistryObject{}), "");
}

TEST(ImageRegistry, BsdNameLookupTakesTheFirstMediaObjectInOrder) {
  Entry first = testing::volume(testing::volumeOutline("disk2s1", "First"));
  Entry second = testing::volume(testing::volumeOutline("disk2s1", "Second"));
  // Without a "BSD Name" property the description's name counts...
  Entry byDescription = testing::volume(testing::volumeOutline("disk5s1", "Described"));
  byDescription.properties.erase("BSD Name");
  // ...but a property that says otherwise wins over the description.
  Entry renamed = testing::volume(testing::volumeOutline("disk6s1", "Renamed"));
  renamed.properties["BSD Name"] = "disk6s9";
  Entry notMedia = plain("IOService", {{"BSD Name", PlistValue("disk9")}});

  ImageBuilder builder;
  builder.add(plain("IOService")).add(std::move(notMedia)).add(std::move(first)).add(std::move(second));
  builder.add(std::move(byDescription)).add(std::move(renamed));
  auto image = load(builder);
  Registry& registry = image->machine->registry();

  const struct {
    const char* bsd;
    std::optional<std::string> volumeName;
  } cases[] = {
      {"disk2s1", "First"}, {"disk5s1", "Described"}, {"disk6s9", "Renamed"},
      {"disk6s1", std::nullopt}, {"disk9", std::nullopt}, {"", std::nullopt}, {"disk2", std::nullopt},
  };
  for (const auto& c : cases) {
    auto description = registry.descriptionForBSDName(c.bsd);
    auto object = registry.mediaObjectForBSDName(c.bsd);
    EXPECT_EQ(object.has_value(), c.volumeName.has_value()) << c.bsd;
    if (!c.volumeName) {
      EXPECT_EQ(description, nullptr) << c.bsd;
      continue;
    }
    ASSERT_NE(description, nullptr) << c.bsd;
    EXPECT_EQ(description->at("DAVolumeName"), PlistValue(*c.volumeName)) << c.bsd;
    EXPECT_EQ(registry.description(*object), description) << c.bsd;
  }
}

TEST(ImageRegistry, DescriptionsComeWithAUrlAndCanonicalUuids) {
  Entry volume = testing::volume(testing::volumeOutline("disk4s2", "Backup Disk", "/Volumes/Backup Disk", "", "hfs"));
  volume.description->insert_or_assign("DAVolumeUUID", "424fea98-2296-48fd-8dff-0866835572e9");
  volume.description->insert_or_assign("DAMediaUUID", "E09ECFF1-c6dc-11E9-920b-806E6F6E6963");
  volume.description->insert_or_assign("DAAppearanceTime", 606058582.711735);
  ImageBuilder builder;
  builder.add(std::move(volume));
  auto image = load(builder);
  auto description = image->machine->registry().descriptionForBSDName("disk4s2");
  ASSERT_NE(description, nullptr);
  EXPECT_EQ(description->at("DAVolumePath"), PlistValue(PlistUrl{"file:///Volumes/Backup%20Disk/"}));
  EXPECT_EQ(description->at("DAVolumeUUID"), PlistValue("424FEA98-2296-48FD-8DFF-0866835572E9"));
  EXPECT_EQ(description->at("DAMediaUUID"), PlistValue("E09ECFF1-C6DC-11E9-920B-806E6F6E6963"));
  EXPECT_EQ(description->at("DAAppearanceTime"), PlistValue(606058582.711735));
  EXPECT_EQ(description->at("DAMediaSize"), PlistValue(std::uint64_t{500107862016}));
}

// The dump is machine.plist's own form: written back as an image, it gives the same registry.
TEST(ImageRegistry, TheDumpLoadsBackAsTheSameRegistry) {
  auto image = load(macRegistry());
  auto tree = registryTree(*image->machine);
  ASSERT_TRUE(tree.has_value());
  EXPECT_EQ(tree->size(), 2u);

  testing::TempDir copy;
  std::filesystem::create_directories(copy.path() / "root");
  testing::writeFile(copy.path() / "machine.plist",
                     writeXmlPlist(PlistDict{{"Registry", PlistValue(*tree)}, {"Mounts", PlistValue(PlistArray{})}}));
  LoadResult reloaded = loadMachine(copy.str());
  ASSERT_NE(reloaded.machine, nullptr) << reloaded.error;
  EXPECT_EQ(registryTree(*reloaded.machine), tree);
  Registry& registry = reloaded.machine->registry();
  EXPECT_EQ(bsdNames(registry, registry.mediaObjects()),
            (std::vector<std::string>{"disk0", "disk0s2", "disk3", "disk3s1", "disk3s1s1", "disk3s5", "disk0s3", "disk4"}));
  EXPECT_EQ(*registry.descriptionForBSDName("disk3s5"), *image->machine->registry().descriptionForBSDName("disk3s5"));
}

}  // namespace
}  // namespace strandel::platform::image
