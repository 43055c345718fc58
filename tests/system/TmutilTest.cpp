// The Time Machine tool query against a tool of a test image that prints a chosen file and writes
// the arguments it received (each followed by a NUL) and its environment beside itself.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include <strandel/Strandel.hpp>

#include "platform/Machine.hpp"
#include "tests/support/ImageBuilder.hpp"
#include "tests/support/Paths.hpp"

namespace strandel {
namespace {

using testing::ImageBuilder;
using testing::ScopedMachine;

ImageBuilder tmutilPrinting(const std::string& output) {
  ImageBuilder image;
  image.tool("/usr/bin/tmutil",
             "#!/bin/sh\n"
             "for a in \"$@\"; do printf '%s\\0' \"$a\"; done > \"${0%/*}/tmutil.argv\"\n"
             // The shell exports PWD of its own accord; anything else came from us.
             "/usr/bin/env | /bin/grep -v '^PWD=' > \"${0%/*}/tmutil.env\"\n"
             "exec /bin/cat \"${0%/*}/tmutil.out\"\n");
  image.file("/usr/bin/tmutil.out", output);
  return image;
}

std::string fileText(const ScopedMachine& machine, const char* relative) {
  std::ifstream in(machine.dir() / relative, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// `tmutil status -X` of a backup that is copying.
const char* const kStatusCopying = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
	<key>BackupPhase</key>
	<string>Copying</string>
	<key>ClientID</key>
	<string>com.apple.backupd</string>
	<key>DateOfStateChange</key>
	<date>2026-08-12T07:25:54Z</date>
	<key>DestinationMountPoint</key>
	<string>/Volumes/Backup km</string>
	<key>FractionOfProgressBar</key>
	<real>0.90000000000000002</real>
	<key>Progress</key>
	<dict>
		<key>Percent</key>
		<real>0.73163793226869744</real>
		<key>totalBytes</key>
		<integer>443560615936</integer>
	</dict>
	<key>Running</key>
	<true/>
</dict>
</plist>
)";

TEST(Tmutil, DictionaryOutput) {
  ScopedMachine machine(tmutilPrinting(kStatusCopying));
  auto value = tmutil({"status", "-X"});
  ASSERT_TRUE(value);
  ASSERT_TRUE(value->asDictionary());
  EXPECT_EQ(*value->find("BackupPhase"), PlistValue("Copying"));
  EXPECT_EQ(*value->find("Running"), PlistValue(true));
  EXPECT_EQ(value->find("FractionOfProgressBar")->asReal(), 0.9);
  ASSERT_TRUE(value->find("DateOfStateChange")->asDate());
  const PlistValue* progress = value->find("Progress");
  ASSERT_TRUE(progress);
  EXPECT_EQ(progress->find("totalBytes")->asInteger(), 443560615936);
}

TEST(Tmutil, ArrayOutput) {
  PlistArray destinations{PlistDict{{"Name", PlistValue("TC Backup")}, {"Kind", PlistValue("Local")}},
                          PlistDict{{"Name", PlistValue("Tensho")}, {"Kind", PlistValue("Network")}}};
  ScopedMachine machine(tmutilPrinting(writeXmlPlist(destinations)));
  EXPECT_EQ(tmutil({"destinationinfo", "-X"}), PlistValue(destinations));
}

TEST(Tmutil, BinaryPropertyListOutput) {
  PlistDict status{{"ClientID", PlistValue("com.apple.backupd")}, {"Running", PlistValue(false)}};
  ScopedMachine machine(tmutilPrinting(writeBinaryPlist(status)));
  EXPECT_EQ(tmutil({"status", "-X"}), PlistValue(status));
}

TEST(Tmutil, OutputThatIsNoPropertyListGivesNothing) {
  const std::vector<std::pair<const char*, std::string>> outputs = {
      {"empty", ""},
      {"text listing",
       "====================================================\n"
       "Name          : TC Backup\n"
       "Kind          : Local\n"
       "Mount Point   : /Volumes/TC Backup\n"
       "ID            : 12345678-1234-ABCD-ABCD-1234ABCD1234\n"},
      {"message", "tmutil: No destinations configured.\n"},
      {"cut property list", std::string(kStatusCopying).substr(0, 300)},
  };
  for (const auto& [name, output] : outputs) {
    ScopedMachine machine(tmutilPrinting(output));
    EXPECT_EQ(tmutil({"destinationinfo"}), std::nullopt) << name;
  }
}

TEST(Tmutil, ArgumentsReachTheToolUnchangedInAnEmptyEnvironment) {
  const std::vector<std::vector<std::string>> argumentLists = {
      {},
      {"destinationinfo", "-X"},
      {"status", "-X", "-X"},
      {"listbackups", "-d", "/Volumes/Backup Disk", "-m"},
      {"", "  ", "it's", "$(touch x)", "-", "--", "a\nb"},
  };
  for (const auto& arguments : argumentLists) {
    ScopedMachine machine(tmutilPrinting(""));
    tmutil(arguments);
    std::string expected;
    for (const auto& argument : arguments) expected += argument + '\0';
    EXPECT_EQ(fileText(machine, "root/usr/bin/tmutil.argv"), expected);
    EXPECT_EQ(fileText(machine, "root/usr/bin/tmutil.env"), "");
  }
}

TEST(Tmutil, ToolThatCannotStartGivesNothing) {
  ScopedMachine machine(ImageBuilder{});
  EXPECT_EQ(tmutil({"status", "-X"}), std::nullopt);
}

TEST(Tmutil, SampleImageOfAMacWithTwoDestinations) {
  auto previous = platform::current();
  auto error = useMachine(testing::sampleMachine("network-backup"));
  ASSERT_FALSE(error) << *error;
  auto destinations = tmutil({"destinationinfo", "-X"});
  ASSERT_TRUE(destinations && destinations->find("Destinations"));
  const PlistArray* list = destinations->find("Destinations")->asArray();
  ASSERT_TRUE(list);
  ASSERT_EQ(list->size(), 2u);
  EXPECT_EQ(*(*list)[1].find("Kind"), PlistValue("Network"));
  auto status = tmutil({"status", "-X"});
  ASSERT_TRUE(status);
  EXPECT_EQ(*status->find("BackupPhase"), PlistValue("Copying"));
  EXPECT_EQ(tmutil({"destinationinfo"}), std::nullopt);  // the text form is for people
  platform::setCurrent(previous);
}

}  // namespace
}  // namespace strandel
