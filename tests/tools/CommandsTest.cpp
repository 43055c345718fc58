// The tool's commands run as a user runs them: how they read their arguments and print their
// answers (the answers themselves are the library's), and the registry tree for people.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include <strandel/PlistValue.hpp>

#include "tests/support/ImageBuilder.hpp"
#include "tests/support/Paths.hpp"
#include "tests/support/TempDir.hpp"
#include "tests/support/ToolRun.hpp"

namespace strandel {
namespace {

TEST(Commands, ReadTheirArgumentsAndPrintTheAnswer) {
  // A Catalina machine's root volume, with the worked figures, and its data volume. Without a disk
  // behind it, the APFS used size is the volume's own.
  testing::TempDir dir;
  testing::ImageBuilder image;
  image.mount({.on = "/", .from = "/dev/disk1s5", .type = "apfs"});
  image.mount({.on = "/System/Volumes/Data", .from = "/dev/disk1s1", .type = "apfs"});
  image.write(dir.path());
  // The arguments, the exit status and what the tool prints.
  const std::tuple<std::vector<std::string>, int, std::string> cases[] = {
      {{"bytes", "1536"}, 0, "1.54 KB\n"},      {{"bytes", "-5"}, 0, "-5 bytes\n"},   {{"bytes", "--", "-5"}, 0, "-5 bytes\n"},
      {{"bytes", "nan"}, 0, "nan bytes\n"},    {{"bytes"}, 0, "0 bytes\n"},      {{"--format", "json", "bytes"}, 0, "\"0 bytes\"\n"},
      {{"bytes", "--label", "500107862016"}, 0, "500.11 GB\n"},
      {{"bytes", "--mb", "500107862016"}, 0, "476940M (500107837440 bytes)\n"},
      {{"--format", "json", "bytes", "1048575", "--mb"}, 0, "{\"bytes\":0,\"text\":\"0M\"}\n"},

      {{"mount", "from", "/"}, 0, "/dev/disk1s5\n"},  {{"mount", "from", "/nowhere"}, 0, ""},
      {{"mount", "on", "disk1s1"}, 0, "/System/Volumes/Data\n"},
      // Left out, the device is absent and nothing is found; given as "", it is "/dev/".
      {{"--format", "json", "mount", "on"}, 0, "\"\"\n"}, {{"--format", "json", "mount", "on", ""}, 0, "\"/\"\n"},

      {{"size", "total", "/"}, 0, "500000002048\n"},    {{"size", "free", "/"}, 0, "249999998976\n"},
      {{"size", "used", "/"}, 0, "250000003072\n"},     {{"size", "total-text", "/"}, 0, "500 GB\n"},
      {{"size", "apfs-used", "/"}, 0, "250000003072\n"}, {{"--format", "json", "size", "used-text", "/"}, 0, "\"250 GB\"\n"},

      {{"bytes", "12abc"}, 2, ""}, {{"bytes", " 5"}, 2, ""},  {{"bytes", "1e400"}, 2, ""},  {{"bytes", "--mb"}, 2, ""},
      {{"bytes", "--label", "--mb", "5"}, 2, ""}, {{"size", "huge", "/"}, 2, ""},
  };
  for (const auto& [words, status, out] : cases) {
    std::vector<std::string> arguments = {"--machine", dir.str()};
    arguments.insert(arguments.end(), words.begin(), words.end());
    testing::ToolRun run = testing::runStrandel(arguments);
    std::string shown = ::testing::PrintToString(words) + ": " + run.err;
    EXPECT_EQ(run.status, status) << shown;
    EXPECT_EQ(run.out, out) << shown;
    // An answer comes with nothing on stderr, a usage error with one line.
    if (status == 0) {
      EXPECT_EQ(run.err, "") << shown;
    } else {
      EXPECT_TRUE(run.err.starts_with("strandel: ") && std::ranges::count(run.err, '\n') == 1) << shown;
    }
  }
  testing::ToolRun run = testing::runStrandel({"--machine", dir.str(), "--format", "plist", "bytes", "--mb", "5242879"});
  EXPECT_EQ(readPlist(run.out), std::optional<PlistValue>(PlistDict{{"bytes", PlistValue(4194304.0)}, {"text", PlistValue("4M")}}))
      << run.out;
}

const std::string kSample = testing::sampleMachine("apple-silicon-macos26");

TEST(RegistryCommand, PlistIsTheMachineImagesRegistry) {
  testing::ToolRun run = testing::runStrandel({"--machine", kSample, "--format", "plist", "registry"});
  ASSERT_EQ(run.status, 0) << run.err;
  auto image = readPlist(testing::readFile(kSample + "/machine.plist"));
  ASSERT_TRUE(image && image->find("Registry"));
  EXPECT_EQ(readPlist(run.out), *image->find("Registry"));
}

TEST(RegistryCommand, TextIsAnIndentedTreeForPeople) {
  testing::ToolRun run = testing::runStrandel({"--machine", kSample, "registry"});
  ASSERT_EQ(run.status, 0) << run.err;
  for (const char* line : {
           "IOPlatformExpertDevice\n",
           "\n                  AppleAPFSVolume  disk3s1  \"Macintosh HD\"  apfs  at /\n",
           "\n                  AppleAPFSVolume  disk3s3  \"Recovery\"  apfs  not mounted\n",
       }) {
    EXPECT_NE(run.out.find(line), std::string::npos) << line << "\nin:\n" << run.out;
  }

  // The mount URL is decoded for people.
  testing::TempDir dir;
  testing::ImageBuilder image;
  image.add(testing::volume(testing::volumeOutline("disk5s2", "Backup Disk", "/Volumes/Backup Disk ’", "", "hfs"))).write(dir.path());
  run = testing::runStrandel({"--machine", dir.str(), "registry"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "IOMedia  disk5s2  \"Backup Disk\"  hfs  at /Volumes/Backup Disk ’\n");
}

}  // namespace
}  // namespace strandel
