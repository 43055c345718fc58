// `strandel image import` on dump folders: the real Macs checked in as samples, partial and
// damaged dumps, odd names, and the tool's exit statuses.
#include "tools/strandel/import/ImportMac.hpp"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include <strandel/Machine.hpp>
#include <strandel/Strandel.hpp>
#include <strandel/StrandelFramework.hpp>

#include "platform/Machine.hpp"
#include "tests/support/Paths.hpp"
#include "tests/support/TempDir.hpp"
#include "tests/support/ToolRun.hpp"

namespace strandel::importer {
namespace {

namespace fs = std::filesystem;
using ::testing::PrintToString;

std::string dumpDir(const std::string& name) { return testing::sourceDir() + "/tests/tools/dumps/" + name; }

PlistValue machinePlistAt(const fs::path& image) {
  return readPlist(testing::readFile(image / "machine.plist")).value_or(PlistValue("(no property list)"));
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
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

// How many of `problems` hold `piece`.
std::ptrdiff_t linesWith(const std::vector<std::string>& problems, const std::string& piece) {
  return std::ranges::count_if(problems,
                               [&](const std::string& line) { return line.find(piece) != std::string::npos; });
}

// The registry entry whose "BSD Name" is `bsd`, anywhere below `entries`.
const PlistValue* entryOf(const PlistValue& entries, const std::string& bsd) {
  if (!entries.asArray()) return nullptr;
  for (const PlistValue& e : *entries.asArray()) {
    const PlistValue* name = e.find("Properties") ? e.find("Properties")->find("BSD Name") : nullptr;
    if (name && *name == PlistValue(bsd)) return &e;
    if (const PlistValue* found = e.find("Children") ? entryOf(*e.find("Children"), bsd) : nullptr) return found;
  }
  return nullptr;
}

// What one registry entry of an image holds: `part` is "Class", or "Description" or
// "Properties" with a `key`; `value` absent means there is no such entry or value.
using Expect = std::tuple<const char*, const char*, const char*, std::optional<PlistValue>>;

void checkEntries(const PlistValue& machine, const std::vector<Expect>& expects, const std::string& name) {
  for (const auto& [bsd, part, key, expected] : expects) {
    const PlistValue* entry = entryOf(*machine.find("Registry"), bsd);
    const PlistValue* value = entry ? entry->find(part) : nullptr;
    if (value && key) value = value->find(key);
    auto shown = [](const PlistValue* v) { return v ? writeJson(*v) : "(none)"; };
    EXPECT_TRUE(value ? expected == *value : !expected)
        << name << ": " << bsd << " " << part << " " << (key ? key : "") << " is " << shown(value) << ", not "
        << shown(expected ? &*expected : nullptr);
  }
}

PlistValue role(const char* name) { return PlistArray{PlistValue(name)}; }

void cutInHalf(const fs::path& file) {
  std::string bytes = testing::readFile(file);
  testing::writeFile(file, bytes.substr(0, bytes.size() / 2));
}

const std::string kBackups = "/Volumes/Backups of Michael’s MBP_13_2020";

std::string textOf(const PlistValue* value) {
  if (!value) return "";
  if (const std::string* text = value->asString()) return *text;
  return writeJson(*value);
}

// What the library answers on an image: the volume list in short ("BSD NAME at PATH FORMAT
// LOCATION ROLE"), the version, and the APFS answers about "/" ("is-apfs, system volume").
struct Answers {
  std::vector<std::string> volumes;
  std::string version, apfs;
  std::vector<std::string> disagreements;  // where the image contradicts itself
};

// The image agrees with itself: every listed volume with a mount point is what `mount on`
// gives for it, and has a total size when the dump gave it one; every container of the
// replayed APFS listing is found by `apfs container`.
Answers answersOn(const fs::path& image) {
  Answers answers;
  auto previous = platform::current();
  if (auto error = useMachine(image.string())) {
    answers.disagreements.push_back(*error);
    return answers;
  }
  for (const PlistValue& record : StrandelFramework().volumeList()) {
    std::string bsd = textOf(record.find("bsdName")), path = textOf(record.find("volumePath"));
    answers.volumes.push_back(bsd + " " + textOf(record.find("volumeName")) + " at " + path + " " +
                              textOf(record.find("volumeFmt")) + " " + textOf(record.find("location")) + " " +
                              textOf(record.find("role")));
    if (path.empty()) continue;
    if (std::string on = getVolumeMountOnName(bsd); on != path)
      answers.disagreements.push_back(bsd + " is listed at " + path + ", mount on gives " + on);
    const PlistValue* size = record.find("size");
    if (size && size->asUnsignedInteger().value_or(0) > 0 && ZVFoundationGetVolTotalSize(path) == 0)
      answers.disagreements.push_back(bsd + " has a size, size total of " + path + " is 0");
  }
  auto listing = readPlist(testing::readFile(image / "root/usr/sbin/diskutil.d/apfs-list.plist"));
  const PlistValue* containers = listing ? listing->find("Containers") : nullptr;
  for (const PlistValue& container : containers && containers->asArray() ? *containers->asArray() : PlistArray{}) {
    std::string reference = textOf(container.find("ContainerReference"));
    if (!getAPFSContainer(reference)) answers.disagreements.push_back("apfs container " + reference + " finds nothing");
  }
  answers.version = ZVGetCurrentSystemString().value_or("(none)");
  answers.apfs = std::string(GetVolumeAPFS("/") ? "apfs" : "not apfs") + ", system " +
                 getAPFSSystemVolume(getVolumeMountFromName("/")).value_or("(none)");
  platform::setCurrent(previous);
  return answers;
}

// A copy of a checked-in dump, as it is or changed as a partial, damaged or later dump would be.
// The real Macs that ship as samples, unchanged, give the checked-in image and the problems a
// person has read (their volume lists are checked against the reviewed ones with the other samples).
struct Damage {
  const char* name;
  const char* dump;
  std::function<void(const fs::path&)> change;
  std::vector<std::string> problems = {};  // lines the report holds; none: the report and image of the unchanged dump
  std::vector<Expect> entries = {};
  std::vector<std::string> notReplayed = {};  // files under the image that must not be there
};

TEST(ImportDump, PartialDamagedAndOddDumpsGiveOneLineEachAndTheRestIsBuilt) {
  const Damage damages[] = {
      {"as recorded", "catalina", nullptr},
      {"as recorded", "osx-virtualbox", nullptr},
      {"missing files",
       "catalina",
       [](const fs::path& d) {
         fs::remove(d / "diskutil-list.plist");
         fs::remove(d / "df-k.txt");
         fs::remove_all(d / "info");
       },
       {"diskutil-list.plist: missing; disks and partitions come from the other listings only",
        "info/: missing; the descriptions are made from the listings and the mount table alone",
        "df-k.txt: missing; the mounts' figures come from diskutil info or the listings' sizes, or are 0",
        "disk0: no listing tells of it, but disk0s2 lies on it; it is made from its name alone"},
       // The volumes still come from the APFS listing and the mount table.
       {{"disk1s1", "Description", "DAVolumeName", "Macintosh HD - Data"},
        {"disk2s1", "Description", "DAVolumeKind", "ms_ntfs"}}},
      {"cut property lists",
       "osx-virtualbox",
       [](const fs::path& d) {
         cutInHalf(d / "diskutil-list.plist");
         cutInHalf(d / "info/disk0s2.plist");
       },
       {"diskutil-list.plist: not a property list (cut short or damaged); disks and partitions "
        "come from the other listings only",
        "info/disk0s2.plist: not a property list (cut short or damaged); its disk is described "
        "from the listings instead",
        "info/disk0s2.plist: missing; disk0s2 is described from mount.txt"},
       {{"disk0s2", "Description", "DAVolumeKind", "hfs"}},
       // What is damaged is not replayed as if the Mac had said it.
       {"root/usr/sbin/diskutil.d/list.plist", "root/usr/sbin/diskutil.d/info/disk0s2.plist"}},
      {"an info file that is diskutil's error",
       "osx-virtualbox",
       [](const fs::path& d) {
         testing::writeFile(d / "info/disk7.plist",
                            writeXmlPlist(PlistDict{{"Error", PlistValue(true)},
                                                    {"ErrorMessage", PlistValue("Could not find disk: disk7")},
                                                    {"ExitCode", PlistValue(1)}}));
       },
       {"info/disk7.plist: diskutil answered with an error (Could not find disk: disk7); ignored"},
       {{"disk7", "Class", nullptr, std::nullopt}}},
      // A dump from someone else: links to the importing user's files or to a device, and a FIFO.
      {"links and FIFOs",
       "osx-virtualbox",
       [](const fs::path& d) {
         fs::remove(d / "mount.txt");
         fs::create_symlink("/dev/zero", d / "mount.txt");
         fs::remove(d / "sw_vers.txt");
         ::mkfifo((d / "sw_vers.txt").c_str(), 0600);
         testing::writeFile(d / "private", "the importing user's own file");
         fs::create_symlink(d / "private", d / "com.apple.TimeMachine.plist");
       },
       {"mount.txt: not a plain file (a link, FIFO or device); left out; the mount table is made "
        "from the mount points that the listings and info files give",
        "sw_vers.txt: not a plain file (a link, FIFO or device); left out; sw_vers answers what "
        "the other recordings show of the version",
        "com.apple.TimeMachine.plist: not a plain file (a link, FIFO or device); left out; the "
        "image has no Time Machine preferences"},
       {},
       {"root/Library/Preferences/com.apple.TimeMachine.plist", "root/usr/bin/sw_vers.d/sw_vers.txt"}},
      // One file under several names is read once: its bytes count once toward the dump's cap.
      {"hard links",
       "osx-virtualbox",
       [](const fs::path& d) { fs::create_hard_link(d / "info/disk0s2.plist", d / "info/disk0s9.plist"); },
       {"info/disk0s9.plist: the same file as info/disk0s2.plist (a hard link); read once, left out here; its disk is "
        "described from the listings instead"}},
      {"unknown keys and files", "osx-virtualbox",
       [](const fs::path& d) {
         // Keys a later system might add, at the top of a property-list file's dictionary.
         for (const char* file : {"diskutil-list.plist", "info/disk0s2.plist"}) {
           std::string xml = testing::readFile(d / file);
           xml.insert(xml.find("<dict>") + 6,
                      "<key>APFSSomethingNew</key><true/><key>Later</key><dict><key>Nested</key>"
                      "<array><integer>1</integer></array></dict>");
           testing::writeFile(d / file, xml);
         }
         testing::writeFile(d / "system_profiler.txt", "Hardware:\n");
       }},
      // A partial dump of a Mac with edenfs mounts (blanks, parentheses, ":" and "/" in names),
      // with a backup disk added that has blanks and a curly apostrophe in its name.
      {"odd names",
       "eden-partial",
       [](const fs::path& d) {
         std::string mounts = testing::readFile(d / "mount.txt");
         testing::writeFile(d / "mount.txt", mounts + "/dev/disk5s1 on " + kBackups + " (apfs, local)\n");
         testing::writeFile(
             d / "info/disk5s1.plist",
             writeXmlPlist(PlistDict{{"DeviceIdentifier", PlistValue("disk5s1")},
                                     {"MountPoint", PlistValue(kBackups)},
                                     {"APFSVolumeRoles", PlistValue(PlistArray{PlistValue("Backup")})}}));
       },
       {"disk0: no listing tells of it, but disk0s2 lies on it; it is made from its name alone"},
       {{"disk1s5", "Description", "DAVolumeName", "edenfs:/Users/wez/fbsource/buck-out"},
        {"disk1s8", "Description", "DAVolumePath", "file:///private/tmp/wat%20the/woot/"},
        {"disk1s9", "Description", "DAVolumePath", "file:///private/tmp/parens%20(1)/"},
        // Volumes only the mount table knows sit in the container their names place them in.
        {"disk1s9", "Class", nullptr, "AppleAPFSVolume"},
        {"disk5s1", "Description", "DAVolumePath", "file:///Volumes/Backups%20of%20Michael%E2%80%99s%20MBP_13_2020/"},
        // diskutil info's own role key gives the registry's Role when no APFS listing does.
        {"disk5s1", "Properties", "Role", role("Backup")}}},
  };
  for (const Damage& d : damages) {
    testing::TempDir scratch;
    fs::copy(dumpDir(d.dump), scratch.path() / "dump", fs::copy_options::recursive);
    if (d.change) d.change(scratch.path() / "dump");
    ImportReport report = importMac(scratch.path() / "dump", scratch.path() / "image");
    ASSERT_EQ(report.status, ImportStatus::Written) << d.name << ": " << report.message;
    PlistValue machine = machinePlistAt(scratch.path() / "image");
    std::string sample = testing::sampleMachine(std::string("imported-") + d.dump);
    if (d.problems.empty()) {
      EXPECT_EQ(report.problems, lines(testing::readFile(dumpDir(d.dump) + ".problems"))) << d.name;
      EXPECT_EQ(machine, machinePlistAt(sample))
          << d.name << ": if the change is right, import tests/tools/dumps/" << d.dump
          << " again into samples/machines/imported-" << d.dump << " and review it";
      if (!d.change) {
        EXPECT_EQ(rootFiles(scratch.path() / "image"), rootFiles(sample)) << d.name;
      }
    }
    for (const std::string& line : d.problems) {
      EXPECT_EQ(std::ranges::count(report.problems, line), 1)
          << d.name << ": " << line << "\nin " << PrintToString(report.problems);
    }
    checkEntries(machine, d.entries, d.name);
    for (const std::string& file : d.notReplayed) {
      EXPECT_FALSE(fs::exists(scratch.path() / "image" / file)) << d.name << ": " << file;
    }
    EXPECT_EQ(answersOn(scratch.path() / "image").disagreements, std::vector<std::string>{}) << d.name;
  }
}

// What a customer pastes in place of a whole dump, made from a checked-in one.
enum class Pasted { AsRecorded, ListingsOnly, MountOnly, NoSwVers, Transcript, TextListing };

void makePasted(const fs::path& dump, Pasted pasted) {
  auto keepOnly = [&](std::initializer_list<const char*> kept) {
    for (const auto& item : fs::directory_iterator(dump)) {
      std::string name = item.path().filename().string();
      if (std::none_of(kept.begin(), kept.end(), [&](const char* k) { return name == k; })) fs::remove_all(item.path());
    }
  };
  switch (pasted) {
    case Pasted::AsRecorded:
      break;
    case Pasted::ListingsOnly:
      keepOnly({"diskutil-list.plist", "diskutil-apfs-list.plist"});
      break;
    case Pasted::MountOnly:
      keepOnly({"mount.txt"});
      break;
    case Pasted::NoSwVers:
      keepOnly({"diskutil-list.plist", "diskutil-apfs-list.plist", "info", "mount.txt", "df-k.txt"});
      break;
    case Pasted::TextListing:
      // diskutil list as printed, of the dump's own layout: names, no roles and no mount points.
      keepOnly({"sw_vers.txt", "sw_vers-productVersion.txt"});
      testing::writeFile(dump / "diskutil-list.plist",
                         "/dev/disk0 (internal, physical):\n"
                         "   #:                       TYPE NAME                    SIZE       IDENTIFIER\n"
                         "   0:      GUID_partition_scheme                        *251.0 GB   disk0\n"
                         "   1:                        EFI EFI                     209.7 MB   disk0s1\n"
                         "   2:                 Apple_APFS Container disk1         250.8 GB   disk0s2\n"
                         "\n"
                         "/dev/disk1 (synthesized):\n"
                         "   #:                       TYPE NAME                    SIZE       IDENTIFIER\n"
                         "   0:      APFS Container Scheme -                      +250.8 GB   disk1\n"
                         "                                 Physical Store disk0s2\n"
                         "   1:                APFS Volume Macintosh HD - Data     40.2 GB    disk1s1\n"
                         "   2:                APFS Volume Preboot                 98.5 MB    disk1s2\n"
                         "   3:                APFS Volume Recovery                1.0 GB     disk1s3\n"
                         "   4:                APFS Volume VM                      3.2 GB     disk1s4\n"
                         "   5:                APFS Volume Macintosh HD            10.7 GB    disk1s5\n");
      break;
    case Pasted::Transcript:
      for (const auto& item : fs::recursive_directory_iterator(dump)) {
        std::string file = item.path().filename().string();
        if (item.path().extension() != ".plist" && file != "mount.txt" && !file.starts_with("sw_vers")) continue;
        testing::writeFile(item.path(),
                           "user@Mac ~ % diskutil list -plist\n" + testing::readFile(item.path()) + "user@Mac ~ % \n");
      }
      break;
  }
}

struct PastedDump {
  const char* dump;
  Pasted pasted;
  std::vector<std::string> volumes;
  std::string version, apfs;
  const char* line = nullptr;  // a piece of one of the import's lines
  std::vector<Expect> entries = {};
};

TEST(ImportDump, PastedPiecesOfRealMacsGiveImagesThatAgreeWithTheMacAndWithThemselves) {
  using Volumes = std::vector<std::string>;
  const Volumes catalina = {"disk1s5 Macintosh HD at / APFS Internal System"},
                osx = {"disk0s2 OSX at / HFS+ Internal "};
  // A system volume on the sealed snapshot, no mount point of its own.
  const Volumes unmountedSystem = {"disk1s5 Macintosh HD at  APFS Internal System"},
                intel = {"disk1s1 Macintosh HD at  APFS Internal System"},
                silicon = {"disk3s1 Macintosh HD at  APFS Internal System"};
  const Volumes fat32 = {"disk1s1 Macintosh HD at / APFS Internal ",
                         "disk2s4 JERRY at /Volumes/JERRY MS-DOS (FAT32) External "};
  const Volumes appleSilicon = {"disk3s1 Macintosh HD at  APFS Internal System",
                                "disk5s1 Backups of Michael’s MBP_13_2020 at  APFS External Backup"};
  const PastedDump rows[] = {
      {"catalina", Pasted::ListingsOnly, catalina, "10.15", "apfs, system disk1s5",
       "Mounts: 4 mounts made from the mount points of diskutil-apfs-list.plist, diskutil-list.plist ("},
      {"catalina", Pasted::NoSwVers, catalina, "10.15", "apfs, system disk1s5",
       "sw_vers: 10.15, the least version that a volume at /System/Volumes/Data allows"},
      {"catalina", Pasted::Transcript, catalina, "10.15.7", "apfs, system disk1s5",
       "diskutil-apfs-list.plist: a property list amid other text"},
      {"osx-virtualbox",
       Pasted::MountOnly,
       {"disk0s2 Macintosh HD at / HFS+ Internal "},
       "",
       "not apfs, system (none)",
       "sw_vers: no recording shows the version"},
      {"osx-virtualbox", Pasted::NoSwVers, osx, "10.7", "not apfs, system (none)",
       "sw_vers: 10.7, the least version that a Recovery HD partition allows"},
      {"eden-partial",
       Pasted::ListingsOnly,
       {"disk1s1 Macintosh HD at  APFS External ", "disk1s5 edenfs:/Users/wez/fbsource/buck-out at  APFS External ",
        "disk1s6 edenfs:/Users/wez/fbsource/fbcode/buck-out at  APFS External ",
        "disk1s7 edenfs:/Users/wez/fbsource/fbobjc/buck-out at  APFS External "},
       "10.13",
       "not apfs, system (none)",
       "sw_vers: 10.13, the least version that DesignatedPhysicalStore in the APFS listing allows"},
      {"ioreg-minimal",
       Pasted::AsRecorded,
       intel,
       "11.0",
       "apfs, system disk1s1",
       "mount.txt: disk7s1 is not in ioreg.plist (it came or went between the recordings); it is left out",
       // The registry's Role stays; the listing gives the Data volume the one the registry lacks. A
       // snapshot is named after its volume.
       {{"disk1s1", "Properties", "Role", role("System")},
        {"disk1s2", "Properties", "Role", role("Data")},
        {"disk1s1s1", "Description", "DAVolumeName", "Macintosh HD"},
        {"disk4", "Description", "DADeviceProtocol", "Virtual Interface"},
        {"disk0s1", "Description", "DADeviceProtocol", "PCI-Express"}}},
      {"apple-silicon", Pasted::ListingsOnly, appleSilicon, "11.0", "not apfs, system (none)",
       "sw_vers: 11.0, the least version that an Apple silicon system container allows"},
      {"apple-silicon", Pasted::MountOnly, silicon, "11.0", "apfs, system (none)",
       "disk1s2: no recording says it; taken as an APFS volume of disk1 (mounted as apfs); role "
       "xART (mounted at /System/Volumes/xarts); named \"xART\""},
      {"apple-silicon", Pasted::NoSwVers, appleSilicon, "11.0", "apfs, system disk3s1",
       "sw_vers: 11.0, the least version that a sealed snapshot mounted at / allows"},
      {"fat32-stick", Pasted::AsRecorded, fat32, "10.12", "apfs, system (none)"},
      {"fat32-stick",
       Pasted::ListingsOnly,
       {"disk1s1 Macintosh HD at  APFS Internal ", "disk2s4 JERRY at  MS-DOS (FAT32) External "},
       "10.12",
       "not apfs, system (none)",
       "disk2s4: no recording says it; taken as file system msdos (Content Windows_FAT_32); volume "
       "type \"MS-DOS (FAT32)\""},
      {"fat32-stick", Pasted::MountOnly, fat32, "10.12", "apfs, system (none)",
       "disk2s4: no recording says it; taken as volume type \"MS-DOS (FAT32)\" (file system msdos)"},
      // diskutil list in the text form alone: CoreStorage, disk images, NTFS and RAID.
      {"corestorage-text",
       Pasted::AsRecorded,
       {"disk1 Macintosh HD at  HFS+ Internal ", "disk3s1 Synergy at  HFS+ External ",
        "disk5s2 Builds at  HFS+ External ", "disk5s3 Source at  HFS+ External ", "disk8 RedBackup at  HFS+ External "},
       "10.7",
       "not apfs, system (none)",
       "diskutil-list.plist: the text form of diskutil list, read from its columns"},
      // Mount alone, of a 10.13 beta with a whole-disk HFS+ volume on a second disk.
      {"macos10.13-mount",
       Pasted::AsRecorded,
       {"disk1 SierraStartup at /Volumes/SierraStartup HFS+ External ", "disk2s1 Macintosh HD at / APFS Internal "},
       "10.12",
       "apfs, system (none)",
       "sw_vers: 10.12, the least version that an APFS volume allows"},
      // A whole terminal session pasted as mount.txt.
      {"macos11-intel-mount", Pasted::AsRecorded, intel, "11.0", "apfs, system (none)",
       "mount.txt: lines 1-9, 11, 20-25 are not \"SOURCE on POINT (TYPE, ...)\""},
      // Mount alone, of a Mac on macOS 26 with a simulator runtime.
      {"macos26-mount",
       Pasted::AsRecorded,
       silicon,
       "11.0",
       "apfs, system (none)",
       "disk5: no recording says it; taken as an APFS container (its volumes are mounted as apfs); "
       "the disk image file:///Library/Developer/CoreSimulator/Images/iOS_23D8133.dmg",
       // As a real Mac's registry holds them: the sealed snapshot, the roles, the name the system
       // gives xART, APFS content (isAPFS), the simulator's image path.
       {{"disk3s1s1", "Class", nullptr, "AppleAPFSSnapshot"},
        {"disk3s1", "Properties", "Role", role("System")},
        {"disk3s5", "Properties", "Role", role("Data")},
        {"disk1s2", "Properties", "Role", role("xART")},
        {"disk1s2", "Description", "DAVolumeName", "xART"},
        {"disk3s5", "Description", "DAMediaContent", "41504653-0000-11AA-AA11-00306543ECAC"},
        {"disk3s5", "Description", "DAVolumeType", "APFS"},
        {"disk3", "Description", "DADeviceProtocol", "Apple Fabric"},
        {"disk5", "Properties", "DiskImageURL", "file:///Library/Developer/CoreSimulator/Images/iOS_23D8133.dmg"}}},
      // The listing and the Data volume's info, without mount: the Data role from the listing's
      // mount point, and "/" on the sealed snapshot alone, not on the System volume.
      {"bigsur-listing",
       Pasted::AsRecorded,
       unmountedSystem,
       "11.0",
       "apfs, system (none)",
       "disk1s1: no recording says it; taken as role Data (mounted at /System/Volumes/Data)",
       {{"disk1s5", "Description", "DAVolumePath", std::nullopt},
        {"disk1s5s1", "Description", "DAVolumePath", "file:///"},
        {"disk1s5", "Properties", "Role", role("System")},
        {"disk1s1", "Properties", "Role", role("Data")}}},
      // The text form of diskutil list names the System and Data volumes but gives no roles.
      {"catalina", Pasted::TextListing, unmountedSystem, "10.15.7", "not apfs, system (none)",
       "disk1s1: no recording says it; taken as role Data (named \"Macintosh HD - Data\", after "
       "disk1s5 \"Macintosh HD\" of its container)"},
  };
  for (const PastedDump& row : rows) {
    constexpr const char* kPastedNames[] = {"as recorded", "listings only", "mount only",
                                            "no sw_vers",  "transcript",    "text listing"};
    std::string name = std::string(row.dump) + ", " + kPastedNames[static_cast<int>(row.pasted)];
    testing::TempDir scratch;
    fs::copy(dumpDir(row.dump), scratch.path() / "dump", fs::copy_options::recursive);
    makePasted(scratch.path() / "dump", row.pasted);
    ImportReport report = importMac(scratch.path() / "dump", scratch.path() / "image");
    ASSERT_EQ(report.status, ImportStatus::Written) << name << ": " << report.message;
    Answers answers = answersOn(scratch.path() / "image");
    EXPECT_EQ(answers.disagreements, std::vector<std::string>{}) << name;
    EXPECT_EQ(answers.volumes, row.volumes) << name;
    EXPECT_EQ(answers.version, row.version) << name;
    EXPECT_EQ(answers.apfs, row.apfs) << name;
    checkEntries(machinePlistAt(scratch.path() / "image"), row.entries, name);
    if (row.pasted == Pasted::Transcript) {
      ASSERT_EQ(importMac(dumpDir(row.dump), scratch.path() / "recorded").status, ImportStatus::Written);
      EXPECT_EQ(machinePlistAt(scratch.path() / "image"), machinePlistAt(scratch.path() / "recorded")) << name;
    }
    if (row.line) {
      EXPECT_EQ(linesWith(report.problems, row.line), 1)
          << name << ": " << row.line << "\nin " << PrintToString(report.problems);
    }
  }
}

// A long mount table from someone else costs the image its entries and a bounded number of
// folders: the first mount points answer statfs, the rest are listed without a folder.
TEST(ImportDump, ALongMountTableCostsBytesALineAndItsFirstMountPointsAnswer) {
  testing::TempDir scratch;
  constexpr std::size_t kLines = 5000;
  std::string mounts;
  for (std::size_t i = 0; i < kLines; ++i)
    mounts += "map -hosts on /Volumes/v" + std::to_string(i) + " (autofs, nobrowse)\n";
  testing::writeFile(scratch.path() / "dump/mount.txt", mounts);
  ImportReport report = importMac(scratch.path() / "dump", scratch.path() / "image");
  ASSERT_EQ(report.status, ImportStatus::Written) << report.message;
  std::uintmax_t bytes = 0;
  for (const auto& item : fs::recursive_directory_iterator(scratch.path() / "image"))
    bytes += item.is_directory() ? 4096 : item.file_size();
  EXPECT_LT(bytes / kLines, 600u) << bytes << " bytes for " << kLines << " mounts";
  EXPECT_EQ(linesWith(report.problems, "get no folder"), 1);

  auto previous = platform::current();
  ASSERT_EQ(useMachine((scratch.path() / "image").string()), std::nullopt);
  EXPECT_EQ(getVolumeMountFromName("/Volumes/v4999"), "map -hosts");
  EXPECT_TRUE(platform::current()->mountTable().statfs("/Volumes/v0").has_value());
  EXPECT_FALSE(platform::current()->mountTable().statfs("/Volumes/v4999").has_value());
  platform::setCurrent(previous);
}

// A branch of the registry without storage is dropped, and so are the identifying values and the
// registry's own bookkeeping; an ancestor of the disks is kept, and so is everything below a
// media object.
TEST(ImportDump, IoregTreeIsCutToTheStorageWithItsAncestors) {
  testing::TempDir scratch;
  ASSERT_EQ(importMac(dumpDir("ioreg-minimal"), scratch.path() / "image").status, ImportStatus::Written);
  std::string xml = testing::readFile(scratch.path() / "image/machine.plist");
  for (const char* gone : {"IOUSBHostDevice", "IOPlatformSerialNumber", "IOPlatformUUID", "C02XXXXXXXXX",
                           "IOConsoleUsers", "firmware-blob", "IOObjectRetainCount", "IORegistryEntryChildren"}) {
    EXPECT_EQ(xml.find(gone), std::string::npos) << gone;
  }
  for (const char* kept : {"IOPlatformExpertDevice", "IOHDIXHDDriveOutKernel", "IOMediaBSDClient", "AppleAPFSSnapshot",
                           "hdik-unique-identifier", "DiskImageURL", "Protocol Characteristics"}) {
    EXPECT_NE(xml.find(kept), std::string::npos) << kept;
  }
}

TEST(ImportDump, ToolExitStatusSaysWhatHappened) {
  testing::TempDir scratch;
  std::string out = (scratch.path() / "image").string(), thin = (scratch.path() / "thin").string();
  std::string unpacked = (scratch.path() / "unpacked").string(), two = (scratch.path() / "two").string();
  testing::writeFile(thin + "/sw_vers.txt", "ProductName:\tMac OS X\nProductVersion:\t10.15.7\n");
  testing::writeFile(out + "/notes.txt", "");
  fs::create_directories(out + "2");
  // An archive of the folder unpacks one level down; two recordings side by side are named.
  for (const std::string& folder : {unpacked + "/mac-dump", two + "/a", two + "/b"}) {
    fs::create_directories(folder);
    fs::copy(dumpDir("fat32-stick"), folder, fs::copy_options::recursive);
  }
  std::string ticket = (scratch.path() / "ticket").string();
  testing::writeFile(ticket + "/pasted.txt", testing::readFile(dumpDir("monterey-session") + "/session.txt"));
  // The dump, the image folder, the options, the exit status, a piece of what the tool says on
  // stderr and what it prints.
  using Words = std::vector<std::string>;
  const std::string osx = dumpDir("osx-virtualbox"), catalina = dumpDir("catalina");
  const std::string summary = out +
                              "2: 7 volumes (1 in the volume list), OS version 10.15.7 (sw_vers-productVersion.txt), "
                              "4 guesses, 0 files left out; 14 registry entries (11 media objects), 7 mounts\n"
                              "\"strandel --machine " +
                              out + "2 image guesses\" lists the guesses";
  const std::tuple<std::string, std::string, Words, int, std::string, std::string> cases[] = {
      {osx,
       out,
       {},
       2,
       "strandel: image import: " + out +
           ": exists and is not an empty folder; give a new one, or --force to replace an image\n",
       ""},
      // --force replaces only an image.
      {osx, out, {"--force"}, 2, "is not a machine image (no machine.plist and root/)", ""},
      // An empty folder is as good as a new one; the dump's lines go to stderr under -v only.
      {catalina, out + "2", {}, 0, "", summary + "; -v tells what each file gave (13 lines)\n"},
      {catalina, out + "2", {"--force", "-v"}, 0, "strandel: image import: ioreg.plist: missing;", summary + "\n"},
      {unpacked, out + "4", {"-v"}, 0, unpacked + ": the recording is in its folder mac-dump, which is read", ""},
      {two, out + "5", {}, 2, two + ": holds no recording itself, but its folders a, b do; give one of them", ""},
      // A ticket's pasted session, alone in its folder.
      {ticket,
       out + "8",
       {"-v"},
       0,
       "pasted.txt: a terminal session, split into its commands: sw_vers (lines 3-5) as sw_vers.txt;",
       ""},
      {(scratch.path() / "nowhere").string(), out + "6", {}, 2, "nowhere: no such folder", ""},
      {catalina, out + "7", {"--os-version", "10.15.7\r"}, 2, "--os-version: \"10.15.7\\x0d\" is not a version", ""},
      // A dump with nothing to make an image of: exit 1, nothing written.
      {thin, out + "3", {}, 1, "nothing to make an image of", ""},
  };
  for (const auto& [dump, image, options, status, err, printed] : cases) {
    Words words{"image", "import"};
    words.insert(words.end(), options.begin(), options.end());
    words.insert(words.end(), {dump, image});
    testing::ToolRun run = testing::runStrandel(words, testing::ToolEnvironment::Empty);
    EXPECT_EQ(run.status, status) << dump << ": " << run.err;
    EXPECT_NE(run.err.find(err), std::string::npos) << dump << ": " << run.err;
    if (status == 2) {
      EXPECT_EQ(std::ranges::count(run.err, '\n'), 1) << run.err;
    }
    if (status == 0 && options.empty()) {
      EXPECT_EQ(run.err, "") << dump;
    }
    if (!printed.empty() || status != 0) {
      EXPECT_EQ(run.out, printed) << dump;
    }
  }
  EXPECT_FALSE(fs::exists(out + "3"));
  EXPECT_TRUE(fs::exists(out + "/notes.txt"));
}

// What the engineer knows is given on the command line and answered as the Mac would; what the
// import guessed is shown again from the image.
TEST(ImportDump, KnownFactsFillTheVersionAndGuessesAreShown) {
  testing::TempDir scratch;
  std::string image = (scratch.path() / "image").string();
  testing::ToolRun run = testing::runStrandel(
      {"image", "import", "--os-version", "12.6.3", "--build", "21G419", dumpDir("bigsur-listing"), image},
      testing::ToolEnvironment::Empty);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("OS version 12.6.3 (the command line)"), std::string::npos) << run.out;
  EXPECT_EQ(testing::readFile(image + "/root/usr/bin/sw_vers.d/sw_vers.txt"),
            "ProductName:\tmacOS\nProductVersion:\t12.6.3\nBuildVersion:\t21G419\n");
  testing::ToolRun guesses =
      testing::runStrandel({"--machine", image, "image", "guesses"}, testing::ToolEnvironment::Empty);
  EXPECT_EQ(guesses.status, 0) << guesses.err;
  EXPECT_NE(guesses.out.find("disk1s1: no recording says it; taken as role Data (mounted at /System/Volumes/Data)"),
            std::string::npos)
      << guesses.out;
  // No version guess is kept when the version was given.
  EXPECT_EQ(guesses.out.find("sw_vers:"), std::string::npos) << guesses.out;
  testing::ToolRun json = testing::runStrandel({"--machine", image, "--format", "json", "image", "guesses"},
                                               testing::ToolEnvironment::Empty);
  EXPECT_TRUE(json.out.starts_with("[{\"about\":\"disk0\",\"guess\":\"no recording says it; taken as ")) << json.out;
}

// A recording pasted from a ticket (CR LF) or an old editor (CR) gives the image of the
// recording itself (catalina's recordings are of both forms, text and property list); so does
// a terminal session of the text forms.
TEST(ImportDump, LineEndsOfOtherSystemsGiveTheSameImage) {
  for (const char* name : {"catalina", "monterey-session"}) {
    for (const char* end : {"\r\n", "\r"}) {
      testing::TempDir scratch;
      fs::copy(dumpDir(name), scratch.path() / "dump", fs::copy_options::recursive);
      for (const auto& item : fs::recursive_directory_iterator(scratch.path() / "dump")) {
        if (!item.is_regular_file() || item.path().filename() == "NOTES") continue;
        std::string bytes = testing::readFile(item.path()), changed;
        for (char c : bytes) changed += c == '\n' ? std::string(end) : std::string(1, c);
        testing::writeFile(item.path(), changed);
      }
      bool session = std::string(name) == "monterey-session";
      fs::path from = session ? scratch.path() / "dump/session.txt" : scratch.path() / "dump";
      fs::path original = session ? fs::path(dumpDir(name)) / "session.txt" : fs::path(dumpDir(name));
      ImportReport report = importMac(from, scratch.path() / "image");
      ASSERT_EQ(report.status, ImportStatus::Written) << name << ": " << report.message;
      ASSERT_EQ(importMac(original, scratch.path() / "original").status, ImportStatus::Written) << name;
      EXPECT_EQ(machinePlistAt(scratch.path() / "image"), machinePlistAt(scratch.path() / "original")) << name;
      EXPECT_EQ(rootFiles(scratch.path() / "image"), rootFiles(scratch.path() / "original")) << name;
      EXPECT_EQ(linesWith(report.problems, "CR LF or CR"), 1) << name << PrintToString(report.problems);
    }
  }
}

// The imported Catalina's tools are the ones its import writes (ImportGivesTheCheckedInImage).
TEST(ImportDump, ReplayScriptsRunWithAnEmptyEnvironment) {
  const std::string root = testing::sampleMachine("imported-catalina") + "/root";
  testing::TempDir scratch;
  const std::string printed = (scratch.path() / "printed").string();
  // The command, the recorded file it prints ("": none) and its exit status.
  const std::tuple<std::string, std::string, int> cases[] = {
      {"usr/sbin/diskutil apfs list -plist", "diskutil-apfs-list.plist", 0},
      {"usr/sbin/diskutil info -plist /dev/disk1s5", "info/disk1s5.plist", 0},
      {"usr/sbin/diskutil info -plist disk1s2", "", 1},
      {"usr/sbin/diskutil info -plist disk0/../../../etc/passwd", "", 1},
      {"usr/bin/sw_vers", "sw_vers.txt", 0},
      {"usr/bin/tmutil destinationinfo -X", "tmutil-destinationinfo.plist", 0},
  };
  for (const auto& [command, recorded, status] : cases) {
    int result = std::system(("env -i '" + root + "'/" + command + " >'" + printed + "' 2>/dev/null").c_str());
    EXPECT_EQ(WEXITSTATUS(result), status) << command;
    EXPECT_EQ(testing::readFile(printed),
              recorded.empty() ? "" : testing::readFile(dumpDir("catalina") + "/" + recorded))
        << command;
  }
}

TEST(ImportDump, ProductVersionComesFromSwVersWhenOnlyItWasRecorded) {
  EXPECT_EQ(productVersionOf("ProductName:\t\tmacOS\r\nProductVersion:\t\t14.1.1"), "14.1.1\n");
  EXPECT_EQ(productVersionOf("ProductName:\tMac OS X\nProductVersion:\t\n"), std::nullopt);
}

}  // namespace
}  // namespace strandel::importer
