#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>
#include <string>

#include <strandel/Strandel.hpp>

#include "tests/framework/CatalogueImages.hpp"

namespace strandel::testing {
namespace {

PlistValue member(const char* bsd, const char* name, const char* volpath, int mounted) {
  return PlistDict{{"bsd", PlistValue(bsd)},
                   {"name", PlistValue(name)},
                   {"kind", PlistValue("apfs")},
                   {"volpath", PlistValue(volpath)},
                   {"isMounted", PlistValue(mounted)}};
}

PlistValue group(bool containsBoot, PlistArray members) {
  return PlistDict{{"containsBoot", PlistValue(containsBoot)}, {"volumes", PlistValue(std::move(members))}};
}

PlistValue membersOf(const char* name) { return StrandelFramework::volumesInAPFSContainer(name); }

TEST(ContainerMembers, OnceAListIsMadeTheExclusionListIsInForce) {
  ScopedMachine machine(catalinaMac());
  StrandelFramework().volumeList();
  const PlistValue expected =
      group(true, {member("disk1s1", "Macintosh HD", "/", 1), member("disk1s1s1", "com.apple.os.update-1", "", 0),
                   member("disk1s2", "Macintosh HD - Data", "/System/Volumes/Data", 1)});
  // The whole disk is the name cut at its first "s" outside "disk"; a "dizk" reads as "disk".
  for (const char* name : {"disk1", "disk1s5", "disk1s1s1", "disk1s99", "dizk1s1"}) {
    EXPECT_EQ(membersOf(name), expected) << name;
  }
  for (const char* name : {"/dev/disk1s1", "disk9", "", "rdisk1s1", "Disk1s1"}) {
    EXPECT_EQ(membersOf(name), group(false, {})) << "'" << name << "'";
  }
  EXPECT_EQ(membersOf("disk3s1"), group(false, {member("disk3s1", "Time Machine", "/Volumes/Time Machine", 1)}));
}

TEST(ContainerMembers, AnExcludedVolumeAtTheRootStillMarksTheBoot) {
  Entry disk = wholeDisk("disk0", 121332826112, "PCI-Express", true);
  Entry& apfsDisk = disk.child(apfsContainerDisk("disk1", 121123069952)).children[0];
  apfsDisk.child(volume(volumeOutline("disk1s1", "Recovery", "/")));
  apfsDisk.child(volume(volumeOutline("disk1s2", "Work", "/Volumes/Work")));
  apfsDisk.child(volume(volumeOutline("disk1s3", "Idle")));
  ScopedMachine machine(ImageBuilder().add(std::move(disk)));
  StrandelFramework().volumeList();
  EXPECT_EQ(membersOf("disk1s2"),
            group(true, {member("disk1s2", "Work", "/Volumes/Work", 1), member("disk1s3", "Idle", "", 0)}));
}

// Run in a process of its own (the death-test machinery re-runs the test binary for it), since
// the first volume list of a process puts the exclusion list in force for good.
TEST(ContainerMembersDeathTest, BeforeAnyListNothingIsExcluded) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  auto groupBeforeAnyList = [] {
    const PlistValue expected =
        group(true, {member("disk1s1", "Macintosh HD", "/", 1), member("disk1s1s1", "com.apple.os.update-1", "", 0),
                     member("disk1s2", "Macintosh HD - Data", "/System/Volumes/Data", 1),
                     member("disk1s3", "Preboot", "", 0), member("disk1s4", "Recovery", "", 0),
                     member("disk1s5", "VM", "/private/var/vm", 1), member("disk1s6", "", "", 0)});
    PlistValue found;
    {
      // Gone before the exit, which unwinds nothing, so that the image folder is removed.
      ScopedMachine machine(catalinaMac());
      found = membersOf("disk1s1");
    }
    if (found != expected) std::cerr << "group before any list: " << writeJson(found) << "\n";
    std::exit(found == expected ? 0 : 1);
  };
  EXPECT_EXIT(groupBeforeAnyList(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace strandel::testing
