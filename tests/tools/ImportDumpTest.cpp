// `strandel image import` on dump folders: the real Macs checked in as samples, partial and
// damaged dumps, odd names, and the tool's exit statuses.
#include "tools/strandel/import/ImportMac.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <strandel/Strandel.hpp>

#include "tests/support/Paths.hpp"
#include "tests/support/TempDir.hpp"
#include "tests/support/ToolRun.hpp"

namespace strandel::importer {
namespace {

namespace fs = std::filesystem;

std::string dumpDir(const std::string& name) { return testing::sourceDir() + "/tests/tools/dumps/" + name; }


PlistValue machinePlistAt(const fs::path& image) {
  auto value = readPlist(testing::readFile(image / "machine.plist"));
  EXPECT_TRUE(value.has_value()) << image;
  return value.value_or(PlistValue());
}

// Every file under an image's root/: its bytes, and whether it is executable.
std::map<std::string, std::pair<std::string, bool>> rootFiles(const fs::path& image) {
  std::map<std::string, std::pair<std::string, bool>> files;
  for (const auto& item : fs::recursive_directory_iterator(image / "root")) {
    if (!item.is_regular_file()) continue;
    bool executable = (item.status().permissions() & fs::perms::owner_exec) != fs::perms::none;
    files[fs::relative(item.path(), image).string()] = {testing::readFile(item.path()), executable};
  }
  return files;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    out.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

bool hasLine(const std::vector<std::string>& problems, const std::string& line) {
  for (const std::string& p : problems) {
    if (p == line) return true;
  }
  return false;
}

std::string joined(const std::vector<std::string>& problems) {
  std::string text;
  for (const std::string& p : problems) text += "  " + p + "\n";
  return text;
}

// A copy of a checked-in dump that a test may damage.
fs::path copyOfDump(const std::string& name, const testing::TempDir& scratch) {
  fs::path copy = scratch.path() / "dump";
  fs::copy(dumpDir(name), copy, fs::copy_options::recursive);
  return copy;
}

// Finds the registry entry whose "BSD Name" is `bsd`, anywhere in the tree.
const PlistDict* entryOf(const PlistValue& machine, const std::string& bsd) {
  std::function<const PlistDict*(const PlistValue&)> search = [&](const PlistValue& entries) -> const PlistDict* {
    const PlistArray* array = entries.asArray();
    if (!array) return nullptr;
    for (const PlistValue& e : *array) {
      const PlistDict* entry = e.asDictionary();
      if (!entry) continue;
      if (const PlistValue* props = e.find("Properties"); props && props->find("BSD Name") &&
                                                          *props->find("BSD Name") == PlistValue(bsd)) {
        return entry;
      }
      if (const PlistValue* children = e.find("Children")) {
        if (const PlistDict* found = search(*children)) return found;
      }
    }
    return nullptr;
  };
  const PlistValue* registry = machine.find("Registry");
  return registry ? search(*registry) : nullptr;
}

const PlistValue* descriptionValue(const PlistValue& machine, const std::string& bsd, const std::string& key) {
  const PlistDict* entry = entryOf(machine, bsd);
  if (!entry || !entry->count("Description")) return nullptr;
  return entry->at("Description").find(key);
}

// Every class name in the tree, in registry order.
void classes(const PlistValue& entries, std::vector<std::string>& out) {
  if (const PlistArray* array = entries.asArray()) {
    for (const PlistValue& e : *array) {
      if (const PlistValue* c = e.find("Class"); c && c->asString()) out.push_back(*c->asString());
      if (const PlistValue* children = e.find("Children")) classes(*children, out);
    }
  }
}

using testing::ToolRun;

// Runs the built tool with an empty environment, as a script in CI would with nothing set.
ToolRun runTool(const std::vector<std::string>& arguments) {
  return testing::runStrandel(arguments, testing::ToolEnvironment::Empty);
}

// The real Macs that ship as samples: the import of each dump gives the checked-in image, the
// problems a person has read (its volume list is checked against the reviewed one with the
// other samples).
class ImportedSample : public ::testing::TestWithParam<const char*> {};

TEST_P(ImportedSample, ImportGivesTheCheckedInImage) {
  std::string name = GetParam();
  testing::TempDir scratch;
  ImportReport report = importMac(dumpDir(name), scratch.path() / "image");
  ASSERT_EQ(report.status, ImportStatus::Written) << report.message;
  std::string sample = testing::sampleMachine("imported-" + name);
  EXPECT_EQ(machinePlistAt(scratch.path() / "image"), machinePlistAt(sample))
      << "if the change is right, import tests/tools/dumps/" << name << " again into samples/machines/imported-"
      << name << " and review it";
  EXPECT_EQ(rootFiles(scratch.path() / "image"), rootFiles(sample));
  EXPECT_EQ(report.problems, lines(testing::readFile(dumpDir(name + ".problems")))) << joined(report.problems);
}

INSTANTIATE_TEST_SUITE_P(RealMacs, ImportedSample, ::testing::Values("osx-virtualbox", "catalina"),
                         [](const auto& info) {
                           std::string name = info.param;
                           for (char& c : name) if (c == '-') c = '_';
                           return name;
                         });

TEST(ImportDump, ImportedMacAnswersThroughItsReplayedTools) {
  std::string image = testing::sampleMachine("imported-catalina");
  struct Case {
    std::vector<std::string> arguments;
    std::string out;
  };
  const Case cases[] = {
      {{"os", "version"}, "10.15.7\n"},
      {{"--format", "json", "apfs", "role", "disk1s1"}, std::to_string(APFSVolumeRoleData) + "\n"},
      {{"--format", "json", "apfs", "role", "disk1s5"}, std::to_string(APFSVolumeRoleSystem) + "\n"},
      {{"apfs", "system", "disk1"}, "disk1s5\n"},
      {{"mount", "from", "/Volumes/KINGSTON"}, "/dev/disk2s1\n"},
      {{"mount", "on", "/dev/disk1s5"}, "/\n"},
      {{"--format", "json", "size", "total", "/"}, "250790436864\n"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> arguments{"--machine", image};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    ToolRun run = runTool(arguments);
    EXPECT_EQ(run.status, 0) << c.arguments.back() << ": " << run.err;
    EXPECT_EQ(run.out, c.out) << c.arguments.front() << " " << c.arguments.back();
  }
}

TEST(ImportDump, MissingFilesGiveOneLineEachAndTheRestIsBuilt) {
  testing::TempDir scratch;
  fs::path dump = copyOfDump("catalina", scratch);
  fs::remove(dump / "diskutil-list.plist");
  fs::remove(dump / "df-k.txt");
  fs::remove_all(dump / "info");
  ImportReport report = importMac(dump, scratch.path() / "image");
  ASSERT_EQ(report.status, ImportStatus::Written) << report.message;
  for (const char* line : {
           "diskutil-list.plist: missing; disks and partitions come from the other listings only",
           "info/: missing; the descriptions are made from the listings and the mount table alone",
           "df-k.txt: missing; the mounts' figures come from diskutil info, or are 0",
           "disk0: no listing tells of it, but disk0s2 lies on it; it is made from its name alone",
       }) {
    EXPECT_TRUE(hasLine(report.problems, line)) << line << "\nin:\n" << joined(report.problems);
  }
  // Without info files, no line per disk repeats what the info/ line said.
  for (const std::string& p : report.problems) EXPECT_FALSE(p.starts_with("info/disk")) << p;

  PlistValue machine = machinePlistAt(scratch.path() / "image");
  // The volumes still come from the APFS listing and the mount table.
  ASSERT_NE(descriptionValue(machine, "disk1s5", "DAVolumePath"), nullptr);
  EXPECT_EQ(*descriptionValue(machine, "disk1s5", "DAVolumePath"), PlistValue("file:///"));
  EXPECT_EQ(*descriptionValue(machine, "disk1s1", "DAVolumeName"), PlistValue("Macintosh HD - Data"));
  EXPECT_EQ(*descriptionValue(machine, "disk2s1", "DAVolumeKind"), PlistValue("ms_ntfs"));
  ASSERT_NE(entryOf(machine, "disk1s1"), nullptr);
  EXPECT_EQ(entryOf(machine, "disk1s1")->at("Properties").find("Role")->asArray()->front(), PlistValue("Data"));
  // No df rows and no info: the figures are 0, and the image still loads.
  for (const PlistValue& mount : *machine.find("Mounts")->asArray()) {
    EXPECT_EQ(*mount.find("f_blocks"), PlistValue(0));
  }
  ToolRun run = runTool({"--machine", (scratch.path() / "image").string(), "--format", "json", "volumes"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("\"bsdName\":\"disk1s5\""), std::string::npos) << run.out;
}

TEST(ImportDump, TruncatedPlistsAreLeftOutWithALine) {
  testing::TempDir scratch;
  fs::path dump = copyOfDump("osx-virtualbox", scratch);
  for (const char* file : {"diskutil-list.plist", "info/disk0s2.plist"}) {
    std::string bytes = testing::readFile(dump / file);
    std::ofstream(dump / file, std::ios::binary | std::ios::trunc) << bytes.substr(0, bytes.size() / 2);
  }
  ImportReport report = importMac(dump, scratch.path() / "image");
  ASSERT_EQ(report.status, ImportStatus::Written) << report.message;
  for (const char* line : {
           "diskutil-list.plist: not a property list (cut short or damaged); disks and partitions come from the other "
           "listings only",
           "info/disk0s2.plist: not a property list (cut short or damaged); its disk is described from the listings "
           "instead",
           "info/disk0s2.plist: missing; disk0s2 is described from mount.txt",
       }) {
    EXPECT_TRUE(hasLine(report.problems, line)) << line << "\nin:\n" << joined(report.problems);
  }
  PlistValue machine = machinePlistAt(scratch.path() / "image");
  // The partitions hang below their whole disk by their names; the root volume is known from mount.
  std::vector<std::string> order;
  classes(*machine.find("Registry"), order);
  EXPECT_EQ(order, (std::vector<std::string>{"IOMedia", "IOGUIDPartitionScheme", "IOMedia", "IOMedia", "IOMedia"}));
  EXPECT_EQ(*descriptionValue(machine, "disk0s2", "DAVolumeKind"), PlistValue("hfs"));
  EXPECT_EQ(*descriptionValue(machine, "disk0s2", "DAVolumePath"), PlistValue("file:///"));
  // What is damaged is not replayed as if the Mac had said it.
  auto files = rootFiles(scratch.path() / "image");
  EXPECT_EQ(files.count("root/usr/sbin/diskutil.d/list.plist"), 0u);
  EXPECT_EQ(files.count("root/usr/sbin/diskutil.d/info/disk0s2.plist"), 0u);
  EXPECT_EQ(files.count("root/usr/sbin/diskutil.d/info/disk0s1.plist"), 1u);
}

TEST(ImportDump, UnknownKeysAndFilesChangeNothing) {
  testing::TempDir scratch;
  fs::path dump = copyOfDump("osx-virtualbox", scratch);
  for (const char* file : {"diskutil-list.plist", "info/disk0s2.plist"}) {
    auto value = readPlist(testing::readFile(dump / file));
    ASSERT_TRUE(value && value->asDictionary());
    (*value->asDictionary())["SomeKeyOfALaterSystem"] = PlistDict{{"Nested", PlistValue(PlistArray{PlistValue(1)})}};
    (*value->asDictionary())["APFSSomethingNew"] = PlistValue(true);
    std::ofstream(dump / file, std::ios::binary | std::ios::trunc) << writeXmlPlist(*value);
  }
  std::ofstream(dump / "system_profiler.txt") << "Hardware:\n";
  ImportReport changed = importMac(dump, scratch.path() / "changed");
  ImportReport original = importMac(dumpDir("osx-virtualbox"), scratch.path() / "original");
  ASSERT_EQ(changed.status, ImportStatus::Written);
  EXPECT_EQ(changed.problems, original.problems);
  EXPECT_EQ(machinePlistAt(scratch.path() / "changed"), machinePlistAt(scratch.path() / "original"));
}

TEST(ImportDump, InfoFilesThatAreNotDescriptionsAreIgnored) {
  testing::TempDir scratch;
  fs::path dump = copyOfDump("osx-virtualbox", scratch);
  // diskutil's answer for a name it does not know, and files that belong to no disk.
  std::ofstream(dump / "info/disk7.plist") << writeXmlPlist(PlistDict{
      {"Error", PlistValue(true)}, {"ErrorMessage", PlistValue("Could not find disk: disk7")}, {"ExitCode", PlistValue(1)}});
  std::ofstream(dump / "info/notes.plist") << writeXmlPlist(PlistDict{});
  fs::copy_file(dump / "info/disk0s1.plist", dump / "info/disk0s9.plist");
  ImportReport report = importMac(dump, scratch.path() / "image");
  ASSERT_EQ(report.status, ImportStatus::Written);
  for (const char* line : {
           "info/disk0s9.plist: describes disk0s1, not disk0s9; ignored",
           "info/disk7.plist: diskutil answered with an error (Could not find disk: disk7); ignored",
           "info/notes.plist: not named BSD-NAME.plist; ignored",
       }) {
    EXPECT_TRUE(hasLine(report.problems, line)) << line << "\nin:\n" << joined(report.problems);
  }
  PlistValue machine = machinePlistAt(scratch.path() / "image");
  EXPECT_EQ(entryOf(machine, "disk7"), nullptr);
  EXPECT_EQ(entryOf(machine, "disk0s9"), nullptr);
}

TEST(ImportDump, NamesWithColonsSlashesAndBlanksSurvive) {
  testing::TempDir scratch;
  ImportReport report = importMac(dumpDir("eden-partial"), scratch.path() / "image");
  ASSERT_EQ(report.status, ImportStatus::Written) << report.message;
  EXPECT_TRUE(hasLine(report.problems, "disk0: no listing tells of it, but disk0s2 lies on it; it is made from its name alone"))
      << joined(report.problems);
  PlistValue machine = machinePlistAt(scratch.path() / "image");
  EXPECT_EQ(*descriptionValue(machine, "disk1s5", "DAVolumeName"), PlistValue("edenfs:/Users/wez/fbsource/buck-out"));
  EXPECT_EQ(*descriptionValue(machine, "disk1s5", "DAVolumePath"), PlistValue("file:///Users/wez/fbsource/buck-out/"));
  EXPECT_EQ(*descriptionValue(machine, "disk1s8", "DAVolumePath"), PlistValue("file:///private/tmp/wat%20the/woot/"));
  EXPECT_EQ(*descriptionValue(machine, "disk1s9", "DAVolumePath"), PlistValue("file:///private/tmp/parens%20(1)/"));
  // Volumes only the mount table knows sit in the container their names place them in.
  EXPECT_EQ(entryOf(machine, "disk1s9")->at("Class"), PlistValue("AppleAPFSVolume"));
  EXPECT_EQ(entryOf(machine, "disk1s2")->at("Properties").find("Role")->asArray()->front(), PlistValue("Preboot"));
  EXPECT_TRUE(fs::is_directory(scratch.path() / "image/root/private/tmp/wat the/woot"));
  EXPECT_TRUE(fs::is_regular_file(scratch.path() / "image/root/private/tmp/parens (1)/.keep"));

  std::string image = (scratch.path() / "image").string();
  struct Case {
    std::vector<std::string> arguments;
    std::string out;
  };
  const Case cases[] = {
      {{"mount", "from", "/private/tmp/wat the/woot"}, "/dev/disk1s8\n"},
      {{"mount", "on", "/dev/disk1s9"}, "/private/tmp/parens (1)\n"},
      {{"mount", "from", "/Users/wez/fbsource"}, "eden@osxfuse0\n"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> arguments{"--machine", image};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    ToolRun run = runTool(arguments);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, c.out) << c.arguments.back();
  }
}

TEST(ImportDump, CurlyApostrophesAndBlanksInAMountedBackupDisk) {
  testing::TempDir scratch;
  fs::path dump = scratch.path() / "dump";
  fs::create_directories(dump / "info");
  std::ofstream(dump / "mount.txt")
      << "/dev/disk5s1 on /Volumes/Backups of Michael’s MBP_13_2020 (apfs, local, nodev, nosuid, journaled, noowners)\n"
      << "/dev/disk6s2 on /Volumes/My Disk (hfs, local, nodev, nosuid, journaled)\n";
  std::ofstream(dump / "df-k.txt")
      << "Filesystem   1024-blocks    Used  Available Capacity iused ifree %iused  Mounted on\n"
      << "/dev/disk5s1  8201155584 4096 8201151488 1% 10 100 10%   /Volumes/Backups of Michael’s MBP_13_2020\n"
      << "/dev/disk6s2  1000 10 990 1%  1 2 50%   /Volumes/My Disk\n";
  std::ofstream(dump / "info/disk5s1.plist") << writeXmlPlist(PlistDict{
      {"DeviceIdentifier", PlistValue("disk5s1")},
      {"VolumeName", PlistValue("Backups of Michael’s MBP_13_2020")},
      {"MountPoint", PlistValue("/Volumes/Backups of Michael’s MBP_13_2020")},
      {"FilesystemType", PlistValue("apfs")},
      {"BusProtocol", PlistValue("USB")},
      {"Internal", PlistValue(false)},
      {"APFSVolumeRoles", PlistValue(PlistArray{PlistValue("Backup")})}});
  ImportReport report = importMac(dump, scratch.path() / "image");
  ASSERT_EQ(report.status, ImportStatus::Written) << report.message;
  PlistValue machine = machinePlistAt(scratch.path() / "image");
  EXPECT_EQ(*descriptionValue(machine, "disk5s1", "DAVolumePath"),
            PlistValue("file:///Volumes/Backups%20of%20Michael%E2%80%99s%20MBP_13_2020/"));
  EXPECT_EQ(*descriptionValue(machine, "disk5s1", "DAVolumeName"), PlistValue("Backups of Michael’s MBP_13_2020"));
  EXPECT_EQ(*descriptionValue(machine, "disk6s2", "DAVolumePath"), PlistValue("file:///Volumes/My%20Disk/"));
  // diskutil info's own role key gives the registry's Role when no APFS listing does.
  EXPECT_EQ(entryOf(machine, "disk5s1")->at("Properties").find("Role")->asArray()->front(), PlistValue("Backup"));
  const PlistArray& mounts = *machine.find("Mounts")->asArray();
  ASSERT_EQ(mounts.size(), 2u);
  EXPECT_EQ(*mounts[0].find("f_mntonname"), PlistValue("/Volumes/Backups of Michael’s MBP_13_2020"));
  EXPECT_EQ(*mounts[0].find("f_blocks"), PlistValue(std::uint64_t{2050288896}));
  EXPECT_EQ(*mounts[1].find("f_bsize"), PlistValue(1024));
  EXPECT_EQ(*mounts[1].find("f_bfree"), PlistValue(990));

  ToolRun run = runTool({"--machine", (scratch.path() / "image").string(), "mount", "from",
                         "/Volumes/Backups of Michael’s MBP_13_2020"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "/dev/disk5s1\n");
}

TEST(ImportDump, IoregTreeIsCutToTheStorageWithItsAncestors) {
  testing::TempDir scratch;
  ImportReport report = importMac(dumpDir("ioreg-minimal"), scratch.path() / "image");
  ASSERT_EQ(report.status, ImportStatus::Written) << report.message;
  EXPECT_TRUE(hasLine(report.problems,
                      "mount.txt: disk7s1 is not in ioreg.plist (it came or went between the recordings); it is left out"))
      << joined(report.problems);
  PlistValue machine = machinePlistAt(scratch.path() / "image");
  std::vector<std::string> order;
  classes(*machine.find("Registry"), order);
  auto count = [&](const std::string& name) { return std::count(order.begin(), order.end(), name); };
  EXPECT_EQ(count("IOUSBHostDevice"), 0) << "a branch without storage is dropped";
  EXPECT_EQ(count("IOPlatformExpertDevice"), 1) << "an ancestor of the disks is kept";
  EXPECT_EQ(count("IOHDIXHDDriveOutKernel"), 1);
  EXPECT_EQ(count("IOMediaBSDClient"), 6) << "everything below a media object is kept";
  EXPECT_EQ(count("AppleAPFSSnapshot"), 1);

  std::string xml = testing::readFile(scratch.path() / "image/machine.plist");
  for (const char* gone : {"IOPlatformSerialNumber", "IOPlatformUUID", "C02XXXXXXXXX", "IOConsoleUsers", "firmware-blob",
                           "IOObjectRetainCount", "IORegistryEntryChildren"}) {
    EXPECT_EQ(xml.find(gone), std::string::npos) << gone;
  }
  for (const char* kept : {"hdik-unique-identifier", "DiskImageURL", "Protocol Characteristics"}) {
    EXPECT_NE(xml.find(kept), std::string::npos) << kept;
  }
  // The registry's Role stays; the listing gives the Data volume the one the registry lacks.
  EXPECT_EQ(entryOf(machine, "disk1s1")->at("Properties").find("Role")->asArray()->front(), PlistValue("System"));
  EXPECT_EQ(entryOf(machine, "disk1s2")->at("Properties").find("Role")->asArray()->front(), PlistValue("Data"));
  EXPECT_EQ(*descriptionValue(machine, "disk1s1s1", "DAVolumeName"), PlistValue("Macintosh HD"));
  EXPECT_EQ(*descriptionValue(machine, "disk1s1s1", "DAVolumePath"), PlistValue("file:///"));
  EXPECT_EQ(*descriptionValue(machine, "disk4", "DADeviceProtocol"), PlistValue("Virtual Interface"));
  EXPECT_EQ(*descriptionValue(machine, "disk0s1", "DADeviceProtocol"), PlistValue("PCI-Express"));
  EXPECT_EQ(*descriptionValue(machine, "disk0s1", "DAMediaLeaf"), PlistValue(true));

  // The System volume is listed; the Data volume (its role) and the simulator image (its URL)
  // are not.
  ToolRun run = runTool({"--machine", (scratch.path() / "image").string(), "--format", "json", "volumes"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("\"bsdName\":\"disk1s1\""), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("\"bsdName\":\"disk1s2\""), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("\"bsdName\":\"disk4\""), std::string::npos) << run.out;
}

TEST(ImportDump, ToolExitStatusSaysWhatHappened) {
  testing::TempDir scratch;
  std::string out = (scratch.path() / "image").string();

  ToolRun written = runTool({"image", "import", dumpDir("osx-virtualbox"), out});
  EXPECT_EQ(written.status, 0) << written.err;
  EXPECT_EQ(written.out, out + ": 5 registry entries (4 media objects), 6 mounts\n");
  EXPECT_NE(written.err.find("strandel: image import: ioreg.plist: missing;"), std::string::npos) << written.err;

  ToolRun again = runTool({"image", "import", dumpDir("osx-virtualbox"), out});
  EXPECT_EQ(again.status, 2);
  EXPECT_EQ(again.err, "strandel: image import: " + out + ": exists and is not an empty folder; give a new one\n");

  ToolRun noDump = runTool({"image", "import", (scratch.path() / "absent").string(), out + "2"});
  EXPECT_EQ(noDump.status, 2);
  EXPECT_NE(noDump.err.find("not a folder"), std::string::npos) << noDump.err;

  EXPECT_EQ(runTool({"image", "import", dumpDir("osx-virtualbox")}).status, 2);
  EXPECT_EQ(runTool({"image"}).status, 2);

  // A dump with nothing to make an image of: exit 1, nothing written.
  fs::create_directories(scratch.path() / "thin");
  std::ofstream(scratch.path() / "thin/sw_vers.txt") << "ProductName:\tMac OS X\nProductVersion:\t10.15.7\n";
  ToolRun thin = runTool({"image", "import", (scratch.path() / "thin").string(), out + "3"});
  EXPECT_EQ(thin.status, 1);
  EXPECT_FALSE(fs::exists(out + "3"));
  EXPECT_NE(thin.err.find("nothing to make an image of"), std::string::npos) << thin.err;

  // An empty folder is as good as a new one.
  fs::create_directories(out + "4");
  EXPECT_EQ(runTool({"image", "import", dumpDir("catalina"), out + "4"}).status, 0);
  EXPECT_TRUE(fs::exists(out + "4/machine.plist"));
}

TEST(ImportDump, ReplayScriptsRunWithAnEmptyEnvironment) {
  testing::TempDir scratch;
  ASSERT_EQ(importMac(dumpDir("catalina"), scratch.path() / "image").status, ImportStatus::Written);
  fs::path root = scratch.path() / "image/root";
  struct Case {
    std::vector<std::string> command;
    std::string expected;  // a recorded file, or "" for no answer
    int status;
  };
  const Case cases[] = {
      {{"usr/sbin/diskutil", "apfs", "list", "-plist"}, "diskutil-apfs-list.plist", 0},
      {{"usr/sbin/diskutil", "list", "-plist"}, "diskutil-list.plist", 0},
      {{"usr/sbin/diskutil", "info", "-plist", "/dev/disk1s5"}, "info/disk1s5.plist", 0},
      {{"usr/sbin/diskutil", "info", "-plist", "disk0"}, "info/disk0.plist", 0},
      {{"usr/sbin/diskutil", "info", "-plist", "disk1s2"}, "", 1},
      {{"usr/sbin/diskutil", "info", "-plist", "disk0/../../../etc/passwd"}, "", 1},
      {{"usr/sbin/diskutil", "verifyVolume", "disk1s5"}, "", 1},
      {{"usr/bin/sw_vers"}, "sw_vers.txt", 0},
      {{"usr/bin/sw_vers", "-productVersion"}, "sw_vers-productVersion.txt", 0},
      {{"usr/bin/sw_vers", "-buildVersion"}, "", 1},
      {{"usr/bin/tmutil", "destinationinfo", "-X"}, "tmutil-destinationinfo.plist", 0},
      {{"usr/bin/tmutil", "status", "-X"}, "tmutil-status.plist", 0},
      {{"usr/bin/tmutil", "listbackups"}, "", 1},
  };
  for (const Case& c : cases) {
    std::vector<std::string> arguments = c.command;
    arguments[0] = (root / arguments[0]).string();
    std::string outPath = (scratch.path() / "out").string();
    pid_t child = ::fork();
    if (child == 0) {
      int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      int null = ::open("/dev/null", O_WRONLY);
      if (out < 0 || null < 0 || ::dup2(out, 1) < 0 || ::dup2(null, 2) < 0) ::_exit(127);
      std::vector<char*> argv;
      for (auto& a : arguments) argv.push_back(a.data());
      argv.push_back(nullptr);
      char* environment[] = {nullptr};
      ::execve(argv[0], argv.data(), environment);
      ::_exit(127);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), c.status) << c.command.back();
    std::string expected = c.expected.empty() ? "" : testing::readFile(dumpDir("catalina") + "/" + c.expected);
    EXPECT_EQ(testing::readFile(outPath), expected) << c.command.back();
  }
}

TEST(ImportDump, ProductVersionComesFromSwVersWhenOnlyItWasRecorded) {
  EXPECT_EQ(productVersionOf("ProductName:\tMac OS X\nProductVersion:\t10.15.7\nBuildVersion:\t19H1417\n"),
            "10.15.7\n");
  EXPECT_EQ(productVersionOf("ProductName:\t\tmacOS\nProductVersion:\t\t14.1.1\n"), "14.1.1\n");
  EXPECT_EQ(productVersionOf("ProductName:\tMac OS X\r\nProductVersion:\t10.10.5"), "10.10.5\n");
  EXPECT_EQ(productVersionOf("ProductName:\tMac OS X\n"), std::nullopt);
  EXPECT_EQ(productVersionOf("ProductVersion:\t\n"), std::nullopt);
}

}  // namespace
}  // namespace strandel::importer
