// The tool's byte-text, capacity and mount-table commands, run as a user runs them.
#include <gtest/gtest.h>

#include <sys/statfs.h>

#include <algorithm>
#include <string>
#include <vector>

#include <strandel/Strandel.hpp>
#include <strandel/StrandelFramework.hpp>

#include "tests/support/ImageBuilder.hpp"
#include "tests/support/Paths.hpp"
#include "tests/support/TempDir.hpp"
#include "tests/support/ToolRun.hpp"

namespace strandel {
namespace {

using testing::ToolRun;
using testing::runStrandel;

std::string joined(const std::vector<std::string>& arguments) {
  std::string text;
  for (const auto& a : arguments) text += " '" + a + "'";
  return text;
}

// A Catalina machine: the root volume with the worked figures, a network share, a volume whose
// free count exceeds its total, and a disk utility that lists the container disk1.
testing::ImageBuilder machineImage() {
  testing::ImageBuilder image;
  image.mount({.on = "/", .from = "/dev/disk1s5", .type = "apfs"});
  image.mount({.on = "/dev", .from = "devfs", .type = "devfs", .blockSize = 512, .blocks = 385, .freeBlocks = 0});
  image.mount({.on = "/System/Volumes/Data", .from = "/dev/disk1s1", .type = "apfs"});
  image.mount({.on = "/Volumes/KINGSTON", .from = "/dev/disk2s1", .type = "ntfs", .blockSize = 4096, .blocks = 100, .freeBlocks = 150});
  image.mount({.on = "/Volumes/video", .from = "//riccardo@1.0.1.10/video", .type = "afpfs", .blockSize = 1024, .blocks = 1000, .freeBlocks = 10});
  PlistDict container{{"ContainerReference", PlistValue("disk1")},
                      {"DesignatedPhysicalStore", PlistValue("disk0s2")},
                      {"CapacityCeiling", PlistValue(std::int64_t{499963174912})},
                      {"CapacityFree", PlistValue(std::int64_t{123456789504})},
                      {"Volumes", PlistArray{}}};
  image.file("/usr/share/listing.plist", writeXmlPlist(PlistDict{{"Containers", PlistArray{container}}}));
  image.tool("/usr/sbin/diskutil", "#!/bin/sh\n/bin/cat \"${0%/usr/sbin/diskutil}/usr/share/listing.plist\"\n");
  image.tool("/usr/bin/sw_vers", "#!/bin/sh\necho 10.15.7\n");
  return image;
}

class Commands : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new testing::TempDir;
    machineImage().write(dir_->path());
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  static ToolRun onImage(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {"--machine", dir_->str()});
    return runStrandel(arguments);
  }
  static testing::TempDir* dir_;
};
testing::TempDir* Commands::dir_ = nullptr;

struct Answer {
  std::vector<std::string> arguments;
  std::string out;
};

TEST_F(Commands, Answers) {
  const Answer answers[] = {
      {{"bytes", "1536"}, "1.54 KB\n"},
      {{"bytes", "-5"}, "-5 bytes\n"},
      {{"bytes", "--", "-5"}, "-5 bytes\n"},
      {{"bytes", "+1500"}, "1.50 KB\n"},
      {{"bytes", "1e27"}, "1000 YB\n"},
      {{"bytes", "nan"}, "nan bytes\n"},
      {{"bytes", "INF"}, "inf YB\n"},
      {{"bytes"}, "0 bytes\n"},
      {{"--format", "json", "bytes"}, "\"0 bytes\"\n"},
      {{"bytes", "--mb", "500107862016"}, "476940M (500107837440 bytes)\n"},
      {{"--format", "json", "bytes", "--mb", "500107862016"}, "{\"bytes\":500107837440,\"text\":\"476940M\"}\n"},
      {{"--format", "json", "bytes", "--mb", "-1"}, "{\"bytes\":-1048576,\"text\":\"-1M\"}\n"},
      {{"--format", "json", "bytes", "1048575", "--mb"}, "{\"bytes\":0,\"text\":\"0M\"}\n"},

      {{"mount", "from", "/"}, "/dev/disk1s5\n"},
      {{"--format", "json", "mount", "from", "/System/Volumes/Data"}, "\"/dev/disk1s1\"\n"},
      {{"mount", "from", "/nowhere"}, ""},
      {{"mount", "on", "disk1s1"}, "/System/Volumes/Data\n"},
      // Left out, the device is absent and nothing is found; given as "", it is "/dev/".
      {{"--format", "json", "mount", "on"}, "\"\"\n"},
      {{"--format", "json", "mount", "on", ""}, "\"/\"\n"},

      {{"size", "total", "/"}, "500000002048\n"},
      {{"size", "free", "/"}, "249999998976\n"},
      {{"size", "used", "/"}, "250000003072\n"},
      {{"size", "total-text", "/"}, "500 GB\n"},
      {{"size", "used-text", "/"}, "250 GB\n"},
      {{"--format", "json", "size", "used-text", "/"}, "\"250 GB\"\n"},
      {{"size", "used", "/Volumes/KINGSTON"}, "-204800\n"},
      {{"size", "total", "/Volumes/missing"}, "0\n"},
      {{"size", "total-text", "/Volumes/missing"}, "0 bytes\n"},
      {{"size", "apfs-used", "/"}, "376506385408\n"},
      {{"size", "apfs-used", "/Volumes/video"}, "1013760\n"},
  };
  for (const auto& answer : answers) {
    ToolRun run = onImage(answer.arguments);
    EXPECT_EQ(run.status, 0) << joined(answer.arguments) << ": " << run.err;
    EXPECT_EQ(run.out, answer.out) << joined(answer.arguments);
    EXPECT_EQ(run.err, "") << joined(answer.arguments);
  }
}

TEST_F(Commands, PlistFormat) {
  ToolRun run = onImage({"--format", "plist", "size", "total", "/"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(readPlist(run.out), std::optional<PlistValue>(500000002048.0)) << run.out;
  run = onImage({"--format", "plist", "bytes", "--mb", "5242879"});
  EXPECT_EQ(readPlist(run.out), std::optional<PlistValue>(PlistDict{{"bytes", PlistValue(4194304.0)}, {"text", PlistValue("4M")}}))
      << run.out;
}

TEST_F(Commands, TheLabelIsTheFrameworksByteLabel) {
  testing::ScopedMachine machine(machineImage());
  for (const char* count : {"0", "1536", "500107862016"}) {
    ToolRun run = onImage({"bytes", "--label", count});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, StrandelFramework().unitizedBytes(std::stod(count)) + "\n") << count;
  }
}

TEST_F(Commands, UsageErrorsAreOneLineAndExit2) {
  const std::vector<std::string> wrong[] = {
      {"bytes", "abc"},         {"bytes", "12abc"},          {"bytes", ""},          {"bytes", " 5"},
      {"bytes", "0x10"},        {"bytes", "1e400"},          {"bytes", "--mb"},      {"bytes", "--label"},
      {"bytes", "--label", "--mb", "5"}, {"bytes", "1", "2"}, {"mount"},             {"mount", "from"},
      {"size", "total"},        {"size", "huge", "/"},       {"size"},
  };
  for (const auto& arguments : wrong) {
    ToolRun run = onImage(arguments);
    EXPECT_EQ(run.status, 2) << joined(arguments);
    EXPECT_EQ(run.out, "") << joined(arguments);
    EXPECT_TRUE(run.err.starts_with("strandel: ")) << joined(arguments) << ": " << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << joined(arguments) << ": " << run.err;
  }
}

TEST(LiveCommands, SizeOfTheRootAgreesWithStatfs) {
  struct statfs figures {};
  ASSERT_EQ(::statfs("/", &figures), 0);
  // Linux counts blocks in fragments of f_frsize bytes, as `df -B1` does.
  double unit = static_cast<double>(figures.f_frsize ? figures.f_frsize : figures.f_bsize);
  double total = unit * static_cast<double>(static_cast<std::int64_t>(figures.f_blocks));
  ToolRun run = runStrandel({"--format", "json", "size", "total", "/"});
  EXPECT_EQ(run.status, 0) << run.err;
  char expected[64];
  std::snprintf(expected, sizeof expected, "%.17g\n", total);
  EXPECT_EQ(run.out, expected);
}

}  // namespace
}  // namespace strandel
