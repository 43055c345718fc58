#include <gtest/gtest.h>

#include <optional>
#include <string>

#include <strandel/Strandel.hpp>

#include "tests/framework/CatalogueImages.hpp"

namespace strandel::testing {
namespace {

// disk5 is the sparse bundle of a network backup (its volume disk5s2 named as the preferences
// say), disk6 a USB disk whose volume has the same name, disk7 an image with another name.
ImageBuilder backupMachine(const std::optional<std::string>& preferences) {
  Entry image = wholeDisk("disk5", 1898338838528, "Virtual Interface", false);
  image.child(volume({.bsd = "disk5s2", .name = "Time Machine Backups", .kind = "hfs",
                      .protocol = "Virtual Interface", .internal = false}));
  Entry usb = wholeDisk("disk6", 2000398934016, "USB", false);
  usb.child(volume({.bsd = "disk6s1", .name = "Time Machine Backups", .kind = "hfs", .protocol = "USB",
                    .internal = false}));
  Entry other = wholeDisk("disk7", 35800000, "Virtual Interface", false);
  other.child(volume({.bsd = "disk7s1", .name = "time machine backups", .kind = "hfs",
                      .protocol = "Virtual Interface", .internal = false}));
  ImageBuilder builder;
  builder.add(std::move(image)).add(std::move(usb)).add(std::move(other));
  if (preferences) builder.file("/Library/Preferences/com.apple.TimeMachine.plist", *preferences);
  return builder;
}

TEST(IsNetworkTimeMachine, ProtocolAndImageNameMustBothMatchExactly) {
  ScopedMachine machine(backupMachine(timeMachinePreferences("Time Machine Backups")));
  const struct {
    const char* device;
    bool answer;
  } cases[] = {
      {"disk5s2", true},  {"/dev/disk5s2", true}, {"/dev/disk5s2/", true}, {"dev/disk5s2", true},
      {"disk6s1", false}, {"/dev/disk6s1", false}, {"disk7s1", false},    {"disk5", false},
      {"disk5s9", false}, {"", false},             {"/", false},          {"DISK5S2", false},
  };
  for (const auto& c : cases) EXPECT_EQ(isNetworkTimeMachine(c.device), c.answer) << "device '" << c.device << "'";
}

TEST(IsNetworkTimeMachine, FalseWithoutUsablePreferences) {
  for (const auto& file : {std::optional<std::string>(), std::optional<std::string>("not a property list"),
                           std::optional(writeXmlPlist(PlistDict{{"AutoBackup", PlistValue(true)}})),
                           std::optional(writeXmlPlist(PlistDict{{"LocalizedDiskImageVolumeName", PlistValue(7)}})),
                           std::optional(writeXmlPlist(PlistArray{PlistValue("Time Machine Backups")}))}) {
    ScopedMachine machine(backupMachine(file));
    EXPECT_FALSE(isNetworkTimeMachine("disk5s2")) << file.value_or("no file");
  }
}

}  // namespace
}  // namespace strandel::testing
