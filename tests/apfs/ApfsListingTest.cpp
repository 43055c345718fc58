#include <gtest/gtest.h>

#include <string>

#include "apfs/ApfsListing.hpp"
#include "tests/apfs/ListingImage.hpp"

namespace strandel::testing {
namespace {

TEST(ReadAPFSListing, RunsTheDiskUtilityWithItsArgumentsAndNoEnvironment) {
  ImageBuilder image;
  image.tool("/usr/sbin/diskutil",
             "#!/bin/sh\n"
             "t=\"${0%/usr/sbin/diskutil}/tmp\"\n"
             "for a in \"$@\"; do echo \"[$a]\"; done > \"$t/arguments\"\n"
             "/usr/bin/env > \"$t/environment\"\n"
             "/bin/cat \"${0%/*}/diskutil.d/apfs-list.plist\"\n");
  image.file("/usr/sbin/diskutil.d/apfs-list.plist", listingXml({apfsContainer("disk1")}));
  ScopedMachine machine(image);
  auto listing = readAPFSListing();
  ASSERT_TRUE(listing.has_value());
  ASSERT_NE(containersOf(*listing), nullptr);
  EXPECT_EQ(containersOf(*listing)->size(), 1u);
  EXPECT_EQ(readFile(machine.dir() / "root/tmp/arguments"), "[apfs]\n[list]\n[-plist]\n");
  // The shell adds PWD for itself; nothing comes from the test's own environment.
  std::string environment = readFile(machine.dir() / "root/tmp/environment");
  EXPECT_EQ(environment.find("PATH="), std::string::npos) << environment;
  EXPECT_EQ(environment.find("HOME="), std::string::npos) << environment;
}

TEST(ReadAPFSListing, OnlyADictionaryAtTheTopIsAListing) {
  struct Case {
    std::string output;
    bool listing;
  };
  const PlistDict top{{"Containers", PlistValue(PlistArray{})}, {"Other", PlistValue(std::int64_t{1})}};
  const std::vector<Case> cases = {
      {writeXmlPlist(top), true},
      {writeBinaryPlist(top), true},
      {writeXmlPlist(PlistDict{}), true},
      {writeXmlPlist(PlistArray{PlistValue(top)}), false},
      {writeXmlPlist(PlistValue("Containers")), false},
      {writeBinaryPlist(PlistValue(std::int64_t{7})), false},
      {"", false},
      {"\n", false},
      {"Unrecognized verb \"apfs\"\n", false},
      {"{ \"Containers\": [] }", false},
      {writeXmlPlist(top).substr(0, 120), false},
  };
  for (const auto& c : cases) {
    ScopedMachine machine(listingImage(c.output));
    auto listing = readAPFSListing();
    EXPECT_EQ(listing.has_value(), c.listing) << c.output;
    if (listing && c.output == writeXmlPlist(top)) {
      EXPECT_EQ(PlistValue(*listing), PlistValue(top));
    }
  }
}

TEST(ReadAPFSListing, ADiskUtilityThatCannotStartGivesNothing) {
  ScopedMachine machine(ImageBuilder{});
  EXPECT_FALSE(readAPFSListing().has_value());
}

}  // namespace
}  // namespace strandel::testing
