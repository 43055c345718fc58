// The tool's registry command, run as a user runs it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <strandel/PlistValue.hpp>

#include "tests/support/ImageBuilder.hpp"
#include "tests/support/Paths.hpp"
#include "tests/support/TempDir.hpp"
#include "tests/support/ToolRun.hpp"

namespace strandel {
namespace {

using testing::ToolRun;
using testing::runStrandel;

std::size_t countOf(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

std::size_t entryCount(const PlistArray& entries) {
  std::size_t n = 0;
  for (const auto& entry : entries) {
    ++n;
    if (const PlistValue* children = entry.find("Children")) n += entryCount(*children->asArray());
  }
  return n;
}

const std::string kSample = testing::sampleMachine("apple-silicon-macos26");

// The sample Mac: a platform device; the NVMe branch (device, driver, disk0, its scheme; three
// partitions, each with a container scheme, an APFS media and a container; 4 + 6 + 1 volumes
// and one snapshot); the USB branch (device, SCSI nub, driver, disk4, its scheme, 3 partitions).
constexpr std::size_t kSampleEntries = 1 + (4 + 3 * 4 + 11 + 1) + (5 + 3);

TEST(RegistryCommand, JsonHasEveryEntryOfTheSample) {
  ToolRun run = runStrandel({"--machine", kSample, "--format", "json", "registry"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  ASSERT_FALSE(run.out.empty());
  EXPECT_EQ(run.out.front(), '[');
  EXPECT_EQ(run.out.find('\n'), run.out.size() - 1);
  EXPECT_EQ(countOf(run.out, "\"Class\":"), kSampleEntries);
  EXPECT_NE(run.out.find("\"DAVolumePath\":\"file:///Volumes/TRANSFER/\""), std::string::npos);
}

TEST(RegistryCommand, PlistIsTheMachineImageForm) {
  ToolRun run = runStrandel({"--machine", kSample, "--format", "plist", "registry"});
  ASSERT_EQ(run.status, 0) << run.err;
  auto tree = readPlist(run.out);
  ASSERT_TRUE(tree.has_value() && tree->asArray());
  EXPECT_EQ(entryCount(*tree->asArray()), kSampleEntries);
  const PlistValue& platform = (*tree->asArray())[0];
  EXPECT_EQ(*platform.find("Class"), PlistValue("IOPlatformExpertDevice"));
  EXPECT_EQ(platform.find("Description"), nullptr);
}

TEST(RegistryCommand, TextIsAnIndentedTreeForPeople) {
  ToolRun run = runStrandel({"--machine", kSample, "registry"});
  ASSERT_EQ(run.status, 0) << run.err;
  for (const char* line : {
           "IOPlatformExpertDevice\n",
           "\n      IOMedia  disk0\n",
           "\n                AppleAPFSContainer\n",
           "\n                  AppleAPFSVolume  disk3s1  \"Macintosh HD\"  apfs  at /\n",
           "\n                    AppleAPFSSnapshot  disk3s1s1  \"Macintosh HD\"  apfs  at /\n",
           "\n                  AppleAPFSVolume  disk3s3  \"Recovery\"  apfs  not mounted\n",
           "\n                  AppleAPFSVolume  disk3s5  \"Macintosh HD - Data\"  apfs  at /System/Volumes/Data\n",
           "\n            IOMedia  disk4s2  \"TRANSFER\"  exfat  at /Volumes/TRANSFER\n",
           "\n            IOMedia  disk4s3  \"KAMERA\"  msdos  at /Volumes/KAMERA\n",
       }) {
    EXPECT_NE(run.out.find(line), std::string::npos) << line << "\nin:\n" << run.out;
  }
  EXPECT_EQ(countOf(run.out, "\n"), kSampleEntries);
}

TEST(RegistryCommand, TextDecodesTheMountUrl) {
  testing::ImageBuilder image;
  image.add(testing::volume(testing::volumeOutline("disk5s2", "Backup Disk", "/Volumes/Backup Disk ’", "", "hfs")));
  testing::TempDir dir;
  image.write(dir.path());
  ToolRun run = runStrandel({"--machine", dir.str(), "registry"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "IOMedia  disk5s2  \"Backup Disk\"  hfs  at /Volumes/Backup Disk ’\n");
}

TEST(RegistryCommand, AnUnusableImageIsOneLineAndStatusTwo) {
  testing::TempDir dir;
  testing::ImageBuilder().write(dir.path());
  testing::writeFile(dir.path() / "machine.plist",
                     writeXmlPlist(PlistDict{{"Registry", PlistValue(PlistArray{PlistValue(PlistDict{})})}}));
  ToolRun run = runStrandel({"--machine", dir.str(), "--format", "json", "registry"});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "strandel: " + dir.str() + "/machine.plist: Registry[0].Class: missing\n");

  run = runStrandel({"--machine", kSample, "registry", "extra"});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(countOf(run.err, "\n"), 1u);
}

}  // namespace
}  // namespace strandel
