// The Full Disk Access probe: the dump's rows as a table, then whole probes against a database
// tool of a test image that prints a chosen dump.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <strandel/Strandel.hpp>

#include "system/FullDiskAccess.hpp"
#include "tests/support/ImageBuilder.hpp"
#include "tests/support/TempDir.hpp"
#include "tests/system/VersionTool.hpp"

using namespace strandel::system;

namespace strandel {
namespace {

using testing::ImageBuilder;
using testing::ScopedMachine;

const std::string kApp = "kTCCServiceSystemPolicyAllFiles|com.zorvik.varnexvxp20|0|";
const std::string kTool = "kTCCServiceSystemPolicyAllFiles|com.zorvik.varnexvxp20.VXP20BackgroundTool|0|";
const std::string kAgent = "kTCCServiceSystemPolicyAllFiles|com.zorvik.rundle.RundleBackground|0|";
// The columns after the grant, as a macOS 11 database has them.
const std::string kRest = "4|1|\xFA\xDE\x0C|||UNUSED||0|1612345678";

std::string rows(const std::vector<std::string>& lines) {
  std::string dump;
  for (const auto& line : lines) dump += line + "\n";
  return dump;
}

const std::string kAllGranted = rows({kApp + "2|" + kRest, kTool + "2|" + kRest, kAgent + "2|" + kRest});
const std::string kService = "kTCCServiceSystemPolicyAllFiles|";

// A dump whose tool and agent rows grant, with `row` for the application.
std::string appRow(const std::string& row) { return rows({row, kTool + "2", kAgent + "2"}); }

TEST(FullDiskAccess, RowsOfTheDump) {
  // What a dump holds, the dump, and whether it grants.
  const std::vector<std::tuple<const char*, std::string, bool>> cases = {
      {"grant as the last column, no line feed after the last row", kApp + "1\n" + kTool + "1\n" + kAgent + "1", true},
      {"application row missing", rows({kTool + "2", kAgent + "2"}), false},
      {"agent grant 0", rows({kApp + "2", kTool + "2", kAgent + "0"}), false},
      {"application by bundle path", appRow(kService + "/Applications/Varnex 20.app|1|2"), true},
      {"application denied then granted", rows({kApp + "0", kApp + "2", kTool + "2", kAgent + "2"}), true},
      {"application granted then denied", rows({kApp + "2", kApp + "0", kTool + "2", kAgent + "2"}), true},
      {"client in other letter case", appRow(kService + "com.zorvik.VarnexVXP20|0|2"), false},
      {"client that only begins like ours", appRow(kService + "com.zorvik.varnexvxp20.helper|0|2"), false},
      {"client that ends like ours counts", appRow(kService + "/Library/Helpers/com.zorvik.varnexvxp20|1|2"), true},
      {"service with a trailing blank", appRow("kTCCServiceSystemPolicyAllFiles |com.zorvik.varnexvxp20|0|2"), false},
      {"row of three columns", appRow(kService + "com.zorvik.varnexvxp20|0"), false},
      {"header and message lines are ignored",
       "service|client|client_type|auth_value\nError: no such table\n" + kAllGranted, true},
      {"carriage returns end the grant text", rows({kApp + "2\r", kTool + "2\r", kAgent + "2\r"}), true},
      {"grant text that reads as true", rows({kApp + "yes", kTool + "T", kAgent + " +0007"}), true},
  };
  for (const auto& [name, dump, granted] : cases) EXPECT_EQ(fullDiskAccessGranted(dump), granted) << name;
}

// The database tool of a test image: checks nothing itself, but records the arguments it got
// (each followed by a NUL), the mode and owner of the file its output goes to and one variable of
// its environment in root/tmp/ (the only place where an image's tool may write), then prints
// root/usr/bin/sqlite3.d/dump.
ImageBuilder probeImage(const std::string& dump) {
  ImageBuilder image;
  image.tool("/usr/bin/sqlite3",
             "#!/bin/sh\n"
             "d=\"${0%/*}/../../tmp\"\n"
             "for a in \"$@\"; do printf '%s\\0' \"$a\"; done > \"$d/argv\"\n"
             "/usr/bin/stat -L -c '%a %U' /dev/fd/3 3>&1 > \"$d/stdout\"\n"
             "printf '%s' \"$STRANDEL_PROBE_MARK\" > \"$d/environment\"\n"
             "exec /bin/cat \"${0%/*}/sqlite3.d/dump\"\n");
  image.file("/usr/bin/sqlite3.d/dump", dump);
  return image;
}

std::filesystem::path temporaryFile(const ScopedMachine& machine) {
  return machine.dir() / "root/tmp/vxp20FDAtemp.temp";
}

bool existsOrDangles(const std::filesystem::path& path) {
  return std::filesystem::exists(std::filesystem::symlink_status(path));
}

TEST(FullDiskAccess, ProbeAnswersFromAFreshDumpOnAVersionThatHasIt) {
  auto onVersion = [](const char* version) {
    ImageBuilder image = probeImage(kAllGranted);
    return testing::addVersionTool(image, version);
  };
  const struct {
    const char* name;
    ImageBuilder image;
    bool granted, toolRuns;
    std::string stale = "";  // left at the probe's path by an earlier run, or planted at a link's target
    bool link = false;
  } cases[] = {
      {"Latin-1 bytes in another row", probeImage(kService + "/Users/jos\xE9/tool|1|2\n" + kAllGranted), true, true},
      {"no database tool", ImageBuilder{}, false, false},
      {"stale file from an earlier run", probeImage(""), false, true, kAllGranted},
      // A link at the probe's path is neither followed to read (its target grants) nor to write.
      {"planted link", probeImage(rows({kApp + "0", kTool + "0", kAgent + "0"})), false, true, kAllGranted, true},
      // Before 10.14 there is no Full Disk Access to ask for.
      {"10.13.6", onVersion("10.13.6\n"), false, false},
      {"10.14", onVersion("10.14\n"), true, true},
  };
  // The tool gets these arguments and the process's environment, and its output goes to a file
  // that only its owner can read and write.
  const std::string arguments = std::string("-line") + '\0' + "-list" + '\0' + "-newline" + '\0' + "\n" + '\0' +
                                "/Library/Application Support/com.apple.TCC/TCC.db" + '\0' + "SELECT * from access;" +
                                '\0';
  ::setenv("STRANDEL_PROBE_MARK", "inherited", 1);
  for (const auto& c : cases) {
    ScopedMachine machine(c.image);
    testing::TempDir outside;
    std::filesystem::path planted = c.link ? outside.path() / "precious" : temporaryFile(machine);
    if (!c.stale.empty()) testing::writeFile(planted, c.stale);
    if (c.link) std::filesystem::create_symlink(planted, temporaryFile(machine));
    EXPECT_EQ(isFullDiskAccessSetup(), c.granted) << c.name;
    std::filesystem::path records = machine.dir() / "root/tmp";
    EXPECT_EQ(testing::readFile(records / "argv"), c.toolRuns ? arguments : "") << c.name;
    EXPECT_EQ(testing::readFile(records / "environment"), c.toolRuns ? "inherited" : "") << c.name;
    EXPECT_EQ(testing::readFile(records / "stdout").substr(0, 4), c.toolRuns ? "600 " : "") << c.name;
    EXPECT_FALSE(existsOrDangles(temporaryFile(machine))) << c.name;
    EXPECT_EQ(testing::readFile(planted), c.link ? c.stale : "") << c.name;
  }
  ::unsetenv("STRANDEL_PROBE_MARK");
}

TEST(FullDiskAccess, TwoProbesAtOnce) {
  ImageBuilder image = probeImage(kAllGranted);
  // A slower tool keeps the two runs overlapping.
  image.tool("/usr/bin/sqlite3", "#!/bin/sh\n/bin/sleep 0.2\nexec /bin/cat \"${0%/*}/sqlite3.d/dump\"\n");
  ScopedMachine machine(image);
  bool first = false, second = false;
  std::thread other([&] { second = isFullDiskAccessSetup(); });
  first = isFullDiskAccessSetup();
  other.join();
  EXPECT_TRUE(first);
  EXPECT_TRUE(second);
  EXPECT_FALSE(existsOrDangles(temporaryFile(machine)));
}

// The image's tmp/ and a link to a folder outside trade places without end while probes run:
// the probe's file is made and removed through the folder it found, so none lands outside.
TEST(FullDiskAccess, ATmpSwappedForALinkMidProbeLeadsNowhere) {
  ImageBuilder image;  // no database tool: what is raced is the making and removing of the file
  testing::addVersionTool(image, "10.15\n");
  ScopedMachine machine(image);
  testing::TempDir outside;
  std::filesystem::path tmp = machine.dir() / "root/tmp", link = machine.dir() / "root/tmp-link";
  std::filesystem::create_directory_symlink(outside.path(), link);
  std::atomic<bool> stop{false};
  std::thread swapper([&] {
    while (!stop) ::renameat2(AT_FDCWD, tmp.c_str(), AT_FDCWD, link.c_str(), RENAME_EXCHANGE);
  });
  for (int probe = 0; probe < 1000; ++probe) isFullDiskAccessSetup();
  stop = true;
  swapper.join();
  EXPECT_TRUE(std::filesystem::is_empty(outside.path()));
}

}  // namespace
}  // namespace strandel
