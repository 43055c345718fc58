#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include <strandel/Strandel.hpp>

#include "tests/apfs/ListingImage.hpp"

namespace strandel::testing {
namespace {

// The reference of the container that `getAPFSContainer(device)` answers, or nothing.
std::optional<std::string> containerOf(std::string_view device) {
  auto entry = getAPFSContainer(device);
  if (!entry) return std::nullopt;
  auto it = entry->find("ContainerReference");
  if (it == entry->end() || !it->second.asString()) return std::string("<entry without reference>");
  return *it->second.asString();
}

struct Case {
  const char* device;
  std::optional<std::string> container;
};

const PlistValue kDisk1 = apfsContainer("disk1", "disk0s2", "disk0s2");
const PlistValue kDisk10 = apfsContainer("disk10", "disk9s2", "disk9s2");

TEST(GetAPFSContainer, ReferenceIsExactAndStoreIsASuffixInEitherListingOrder) {
  const std::vector<Case> cases = {
      {"disk1", "disk1"},           {"/dev/disk1", "disk1"},      {"/dev/disk1/", "disk1"},
      {"disk10", "disk10"},         {"/dev/disk10", "disk10"},    {"rdisk1", std::nullopt},
      {"/dev/rdisk10", std::nullopt}, {"disk0s2", "disk1"},       {"/dev/disk0s2", "disk1"},
      {"/dev/rdisk0s2", "disk1"},   {"disk9s2", "disk10"},        {"/dev/rdisk9s2", "disk10"},
      {"disk1s1", std::nullopt},    {"disk10s1", std::nullopt},   {"disk", std::nullopt},
      {"", std::nullopt},           {"/", std::nullopt},          {"DISK1", std::nullopt},
  };
  for (const auto& listing : {listingXml({kDisk1, kDisk10}), listingXml({kDisk10, kDisk1})}) {
    ScopedMachine machine(listingImage(listing));
    for (const auto& c : cases) EXPECT_EQ(containerOf(c.device), c.container) << "device " << c.device;
  }
}

TEST(GetAPFSContainer, GivesTheWholeEntry) {
  PlistValue disk3 = apfsContainer("disk3", "disk0s2", "disk0s2", {apfsVolume("disk3s1", std::vector<std::string>{"System"})});
  ScopedMachine machine(listingImage(listingXml({kDisk1, disk3})));
  auto entry = getAPFSContainer("disk3");
  ASSERT_TRUE(entry.has_value());
  EXPECT_EQ(PlistValue(*entry), disk3);
}

TEST(GetAPFSContainer, FirstMatchWinsAndReferenceComesBeforeStore) {
  // disk3's store test and disk5's reference test both take "disk5": the one listed first wins.
  PlistValue storeIsDisk5 = apfsContainer("disk3", "disk5");
  PlistValue referenceIsDisk5 = apfsContainer("disk5", "disk4s2");
  {
    ScopedMachine machine(listingImage(listingXml({storeIsDisk5, referenceIsDisk5})));
    EXPECT_EQ(containerOf("disk5"), "disk3");
  }
  {
    ScopedMachine machine(listingImage(listingXml({referenceIsDisk5, storeIsDisk5})));
    EXPECT_EQ(containerOf("disk5"), "disk5");
  }
}

// On 10.12.x the designated store is not trusted and the first physical store names the
// container's partition; from 10.13 on, and when the version can't be read, the designated one.
TEST(GetAPFSContainer, StoreNameDependsOnTheRunningVersion) {
  const PlistValue twoStores = apfsContainer("disk2", "disk0s2", "disk1s2");
  struct VersionCase {
    std::optional<std::string> version;
    std::optional<std::string> forDesignated, forFirstPhysical;
  };
  const std::vector<VersionCase> cases = {
      {"10.12", std::nullopt, "disk2"},     {"10.12.6", std::nullopt, "disk2"},
      {"10.13", "disk2", std::nullopt},     {"10.13.6", "disk2", std::nullopt},
      {"10.14.6", "disk2", std::nullopt},   {"26.3.1", "disk2", std::nullopt},
      {std::nullopt, "disk2", std::nullopt},
  };
  for (const auto& c : cases) {
    ScopedMachine machine(listingImage(listingXml({twoStores}), c.version));
    std::string shown = c.version.value_or("<no version tool>");
    EXPECT_EQ(containerOf("/dev/disk0s2"), c.forDesignated) << shown;
    EXPECT_EQ(containerOf("/dev/rdisk1s2"), c.forFirstPhysical) << shown;
    EXPECT_EQ(containerOf("disk2"), "disk2") << shown;
  }
}

TEST(GetAPFSContainer, MissingNamesMatchOnlyByWhatIsThere) {
  const PlistValue noStores = apfsContainer("disk4", "disk3s2");
  const PlistValue emptyStores = [] {
    PlistValue c = apfsContainer("disk6", "disk5s2");
    (*c.asDictionary())["PhysicalStores"] = PlistArray{};
    return c;
  }();
  const PlistValue noReference = apfsContainer(std::nullopt, "disk7s2", "disk7s2");
  const PlistValue emptyNames = apfsContainer("", "", "");
  const std::string listing = listingXml({emptyNames, noStores, emptyStores, noReference});
  {
    ScopedMachine machine(listingImage(listing, "10.12.6"));
    EXPECT_EQ(containerOf("disk4"), "disk4");
    EXPECT_EQ(containerOf("disk3s2"), std::nullopt);
    EXPECT_EQ(containerOf("disk6"), "disk6");
    EXPECT_EQ(containerOf("disk5s2"), std::nullopt);
    EXPECT_EQ(containerOf("/dev/disk7s2"), "<entry without reference>");
  }
  {
    ScopedMachine machine(listingImage(listing, "10.15.7"));
    EXPECT_EQ(containerOf("disk3s2"), "disk4");
    EXPECT_EQ(containerOf("disk5s2"), "disk6");
    EXPECT_EQ(containerOf("/dev/disk7s2"), "<entry without reference>");
    // Empty names in the listing name no device, so they match nothing.
    EXPECT_EQ(containerOf("disk9"), std::nullopt);
  }
}

TEST(GetAPFSContainer, ListingsWithoutContainersGiveNothing) {
  const std::vector<std::string> outputs = {
      writeXmlPlist(PlistDict{}),
      writeXmlPlist(PlistDict{{"Containers", PlistValue(PlistArray{})}}),
      writeXmlPlist(PlistDict{{"Containers", PlistValue("disk1")}}),
      writeXmlPlist(PlistDict{{"Containers", PlistValue(PlistArray{PlistValue("disk1")})}}),
      writeXmlPlist(PlistArray{kDisk1}),
      "",
      "Error: -69580: An unknown error occurred\n",
  };
  for (const auto& output : outputs) {
    ScopedMachine machine(listingImage(output));
    EXPECT_EQ(getAPFSContainer("disk1"), std::nullopt) << output;
  }
}

TEST(GetAPFSContainer, OlderThan1012AnswersWithoutRunningTheDiskUtility) {
  ScopedMachine machine(listingImage(listingXml({kDisk1}), "10.11.6"));
  EXPECT_EQ(getAPFSContainer("disk1"), std::nullopt);
  EXPECT_EQ(toolRuns(machine.dir(), "diskutil-runs"), 0);
}

TEST(GetAPFSContainer, RunsTheDiskUtilityOncePerCall) {
  ScopedMachine machine(listingImage(listingXml({kDisk1}), "10.12.6"));
  EXPECT_EQ(containerOf("disk1"), "disk1");
  EXPECT_EQ(containerOf("disk1"), "disk1");
  EXPECT_EQ(toolRuns(machine.dir(), "diskutil-runs"), 2);
}

TEST(GetAPFSContainer, ReadsABinaryListing) {
  ScopedMachine machine(listingImage(writeBinaryPlist(PlistDict{{"Containers", PlistValue(PlistArray{kDisk1})}})));
  EXPECT_EQ(containerOf("/dev/disk0s2"), "disk1");
}

TEST(GetAPFSContainer, ADiskUtilityThatCannotStartGivesNothing) {
  ImageBuilder image;
  addVersionTool(image, "10.15.7\n");
  ScopedMachine machine(image);
  EXPECT_EQ(getAPFSContainer("disk1"), std::nullopt);
}

}  // namespace
}  // namespace strandel::testing
