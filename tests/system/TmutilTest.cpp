// The Time Machine tool query against a tool of a test image that prints a chosen file and writes
// the arguments it received (each followed by a NUL) and its environment to root/tmp/.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include <strandel/Strandel.hpp>

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
             "for a in \"$@\"; do printf '%s\\0' \"$a\"; done > \"${0%/*}/../../tmp/tmutil.argv\"\n"
             // The shell exports PWD of its own accord; anything else came from us.
             "/usr/bin/env | /bin/grep -v '^PWD=' > \"${0%/*}/../../tmp/tmutil.env\"\n"
             "exec /bin/cat \"${0%/*}/tmutil.out\"\n");
  image.file("/usr/bin/tmutil.out", output);
  return image;
}

TEST(Tmutil, TheToolsPropertyListOrNothing) {
  const PlistDict status{{"BackupPhase", PlistValue("Copying")},
                         {"Running", PlistValue(true)},
                         {"FractionOfProgressBar", PlistValue(0.9)},
                         {"Progress", PlistDict{{"totalBytes", PlistValue(std::int64_t{443560615936})}}}};
  // `tmutil status -X` as a real Mac printed it, with its DOCTYPE, dates and reals.
  const std::string recorded =
      testing::readFile(testing::sampleMachine("network-backup") + "/root/usr/bin/tmutil.d/status.plist");
  ASSERT_TRUE(recorded.find("<date>") != std::string::npos && readPlist(recorded)) << recorded;
  // What the tool prints, the arguments (they reach it unchanged, in an empty environment), the
  // output and the answer.
  const std::tuple<const char*, std::vector<std::string>, std::string, std::optional<PlistValue>> cases[] = {
      {"recorded XML", {"status", "-X"}, recorded, readPlist(recorded)},
      {"binary dictionary", {"status", "-X", "-X"}, writeBinaryPlist(status), status},
      {"message",
       {"listbackups", "-d", "/Volumes/Backup Disk", "-m"},
       "tmutil: No destinations configured.\n",
       std::nullopt},
      {"cut property list",
       {"", "  ", "it's", "$(touch x)", "-", "--", "a\nb"},
       writeXmlPlist(status).substr(0, 200),
       std::nullopt},
  };
  for (const auto& [name, arguments, output, answer] : cases) {
    ScopedMachine machine(tmutilPrinting(output));
    EXPECT_EQ(tmutil(arguments), answer) << name;
    std::string received;
    for (const auto& argument : arguments) received += argument + '\0';
    EXPECT_EQ(testing::readFile(machine.dir() / "root/tmp/tmutil.argv"), received) << name;
    EXPECT_EQ(testing::readFile(machine.dir() / "root/tmp/tmutil.env"), "") << name;
  }
}

}  // namespace
}  // namespace strandel
