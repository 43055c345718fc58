#include <gtest/gtest.h>

#include <string>

#include <strandel/Machine.hpp>
#include <strandel/Strandel.hpp>

#include "tests/support/ImageBuilder.hpp"
#include "tests/support/TempDir.hpp"
#include "tests/system/VersionTool.hpp"

namespace strandel::testing {
namespace {

// A table in the shape of a 10.15 Mac's, with an HFS+ disk whose mount point ends like a later
// APFS one.
ImageBuilder mountImage(const std::string& version = "10.15.7") {
  ImageBuilder image;
  addVersionTool(image, version + "\n")
      .mount({.on = "/", .from = "/dev/disk1s5", .type = "apfs"})
      .mount({.on = "/System/Volumes/Data", .from = "/dev/disk1s1", .type = "apfs"})
      .mount({.on = "/Volumes/Backup", .from = "/dev/disk2s2", .type = "hfs"})
      .mount({.on = "/Volumes/Backup Disk", .from = "/dev/disk4s2", .type = "apfs"})
      .mount({.on = "/Volumes/Éclair", .from = "/dev/disk5s1", .type = "apfs"})
      .mount({.on = "/Volumes/Other/Backup", .from = "/dev/disk6s1", .type = "apfs"});
  return image;
}

TEST(GetVolumeAPFS, TheFirstEntryWithTheSameTailDecides) {
  ScopedMachine machine(mountImage());
  const struct {
    const char* mountPath;
    bool apfs;
  } cases[] = {
      {"/", true},
      {"/Volumes/", true},                // tail "/": the root file system's entry
      {"/anything/Data", true},           // only the tail counts: "/Data" is the Data volume's
      {"/Volumes/Other/Backup", false},   // the first "/Backup" is hfs; the later apfs one is not looked at
      {"/Volumes/Backup Disk", true},
      {"/Volumes/Éclair", true},
      {"/Volumes/E\xcc\x81" "clair", false},  // no Unicode normalisation
      {"/Volumes/backup", false},         // case-sensitive
      {"/Volumes/Missing", false},
      {"Backup", false},                  // no "/": no tail
  };
  for (const auto& c : cases) EXPECT_EQ(GetVolumeAPFS(c.mountPath), c.apfs) << c.mountPath;
}

TEST(GetVolumeAPFS, OlderThan1012OrAnEmptyTableIsNeverApfs) {
  for (const std::string version : {"10.6.8", "10.12"}) {
    ScopedMachine machine(mountImage(version));
    EXPECT_EQ(GetVolumeAPFS("/"), version == "10.12") << version;
  }
  ImageBuilder empty;
  ScopedMachine machine(addVersionTool(empty, "10.15.7\n"));
  EXPECT_FALSE(GetVolumeAPFS("/"));
}

// A mount point that is not UTF-8 can't be decoded, has no tail and is passed over; the next
// entry with the wanted tail answers.
TEST(GetVolumeAPFS, AnUndecodableMountPointMatchesNothing) {
  ImageBuilder image;
  addVersionTool(image, "10.15.7\n")
      .mount({.on = "/Volumes/PLACEHOLDER", .from = "/dev/disk2s1", .type = "hfs"})
      .mount({.on = "/Volumes/Caf\xc3\xa9", .from = "/dev/disk3s1", .type = "apfs"});
  ScopedMachine machine(image);
  // The same name in Latin-1: one byte 0xE9, which is not UTF-8.
  PlistValue plist = image.machinePlist();
  const std::string latin1 = "/Volumes/Caf\xe9";
  (*(*plist.asDictionary())["Mounts"].asArray())[0].asDictionary()->insert_or_assign(
      "f_mntonname", PlistValue(PlistData{{latin1.begin(), latin1.end()}}));
  writeFile(machine.dir() / "machine.plist", writeXmlPlist(plist));
  auto error = useMachine(machine.dir().string());
  ASSERT_FALSE(error.has_value()) << *error;
  EXPECT_TRUE(GetVolumeAPFS("/Volumes/Caf\xc3\xa9"));
  EXPECT_FALSE(GetVolumeAPFS("/Volumes/PLACEHOLDER"));
}

}  // namespace
}  // namespace strandel::testing
