#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include <strandel/Strandel.hpp>

#include "tests/framework/CatalogueImages.hpp"

namespace strandel::testing {
namespace {

const char* const kPreferences = "/Library/Preferences/com.apple.TimeMachine.plist";

// disk5 is the sparse bundle of a network backup (its volume disk5s2 named as the preferences
// say), disk6 a USB disk whose volume has the same name, disk7 an image with another name.
ImageBuilder backupMachine(const std::optional<std::string>& preferences) {
  Entry image = wholeDisk("disk5", 1898338838528, "Virtual Interface", false);
  image.properties["hdik-unique-identifier"] = "4B5A2C11-7E65-4C6B-9F2E-3D0C2B9B1A77";
  image.child(partition("disk5s1", "C12A7328-F81F-11D2-BA4B-00A0C93EC93B", 209715200));
  image.child(volume({.bsd = "disk5s2", .name = "Time Machine Backups", .kind = "hfs",
                      .mountPath = "/Volumes/Time Machine Backups", .type = "Mac OS Extended (Journaled)",
                      .content = "48465300-0000-11AA-AA11-00306543ECAC", .protocol = "Virtual Interface",
                      .internal = false}));
  Entry usb = wholeDisk("disk6", 2000398934016, "USB", false);
  usb.child(volume({.bsd = "disk6s1", .name = "Time Machine Backups", .kind = "hfs", .protocol = "USB",
                    .internal = false}));
  Entry other = wholeDisk("disk7", 35800000, "Virtual Interface", false);
  other.child(volume({.bsd = "disk7s1", .name = "time machine backups", .kind = "hfs",
                      .protocol = "Virtual Interface", .internal = false}));
  ImageBuilder builder;
  builder.add(std::move(image)).add(std::move(usb)).add(std::move(other));
  if (preferences) builder.file(kPreferences, *preferences);
  return builder;
}

struct DeviceCase {
  const char* device;
  bool answer;
};

TEST(IsNetworkTimeMachine, ProtocolAndImageNameMustBothMatchExactly) {
  ScopedMachine machine(backupMachine(timeMachinePreferences("Time Machine Backups")));
  const std::vector<DeviceCase> cases = {
      {"disk5s2", true},  {"/dev/disk5s2", true}, {"/dev/disk5s2/", true}, {"dev/disk5s2", true},
      {"disk6s1", false}, {"/dev/disk6s1", false}, {"disk7s1", false},    {"disk5", false},
      {"disk5s9", false}, {"", false},             {"/", false},          {"DISK5S2", false},
  };
  for (const auto& c : cases) EXPECT_EQ(isNetworkTimeMachine(c.device), c.answer) << "device '" << c.device << "'";
}

TEST(IsNetworkTimeMachine, FalseForEveryDeviceWithoutUsablePreferences) {
  const std::vector<std::optional<std::string>> preferences = {
      std::nullopt,
      "not a property list",
      writeXmlPlist(PlistDict{{"AutoBackup", PlistValue(true)}}),
      writeXmlPlist(PlistDict{{"LocalizedDiskImageVolumeName", PlistValue(7)}}),
      writeXmlPlist(PlistArray{PlistValue("Time Machine Backups")}),
  };
  for (const auto& file : preferences) {
    ScopedMachine machine(backupMachine(file));
    for (const char* device : {"disk5s2", "/dev/disk5s2", "disk6s1", "disk7s1"}) {
      EXPECT_FALSE(isNetworkTimeMachine(device)) << device << " with " << file.value_or("no file");
    }
  }
}

TEST(IsNetworkTimeMachine, TheImageIsLeftOutOfTheListButTheSameNameElsewhereIsNot) {
  NoBundle untranslated;
  {
    ScopedMachine machine(backupMachine(timeMachinePreferences("Time Machine Backups")));
    EXPECT_EQ(bsdNames(StrandelFramework().volumeList()), "disk6s1 disk7s1");
  }
  // Without the disk-image marker on its disk, the backup test alone leaves the image out.
  Entry image = wholeDisk("disk5", 1898338838528, "Virtual Interface", false);
  image.child(volume({.bsd = "disk5s2", .name = "Time Machine Backups", .kind = "hfs",
                      .protocol = "Virtual Interface", .internal = false}));
  image.child(volume({.bsd = "disk5s3", .name = "Other", .kind = "hfs", .protocol = "Virtual Interface",
                      .internal = false}));
  ScopedMachine machine(ImageBuilder().add(std::move(image)).file(kPreferences, timeMachinePreferences("Time Machine Backups")));
  EXPECT_EQ(bsdNames(StrandelFramework().volumeList()), "disk5s3");
}

}  // namespace
}  // namespace strandel::testing
