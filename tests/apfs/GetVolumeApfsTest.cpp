#include <gtest/gtest.h>

#include <string>

#include <strandel/Strandel.hpp>

#include "tests/support/ImageBuilder.hpp"
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

TEST(GetVolumeAPFS, TheFirstEntryWithTheSameTailDecidesFrom1012On) {
  ScopedMachine machine(mountImage());
  const struct {
    const char* mountPath;
    bool apfs;
  } cases[] = {
      {"/", true},
      {"/Volumes/", true},               // tail "/": the root file system's entry
      {"/anything/Data", true},          // only the tail counts: "/Data" is the Data volume's
      {"/Volumes/Other/Backup", false},  // the first "/Backup" is hfs; the later apfs one is not looked at
      {"/Volumes/Backup Disk", true},
      {"/Volumes/Éclair", true},
      {"/Volumes/E\xcc\x81"
       "clair",
       false},                     // no Unicode normalisation
      {"/Volumes/backup", false},  // case-sensitive
      {"/Volumes/Missing", false},
      {"Backup", false},  // no "/": no tail
  };
  for (const auto& c : cases) EXPECT_EQ(GetVolumeAPFS(c.mountPath), c.apfs) << c.mountPath;
  // Before 10.12 no mount point is APFS.
  ScopedMachine older(mountImage("10.11.6"));
  EXPECT_FALSE(GetVolumeAPFS("/"));
}

}  // namespace
}  // namespace strandel::testing
