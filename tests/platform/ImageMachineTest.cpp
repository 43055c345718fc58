// Machine images: what the loader refuses and how, the rules by which its entries become media
// objects, the mount table's answers, and paths that try to leave root/.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "platform/image/ImageMachine.hpp"
#include "platform/image/RootPaths.hpp"
#include "tests/support/ImageBuilder.hpp"
#include "tests/support/TempDir.hpp"

namespace strandel::platform::image {
namespace {

namespace fs = std::filesystem;
using testing::Entry;
using testing::ImageBuilder;
using testing::ScopedMachine;
using testing::TempDir;

// One whole disk with three partitions and one mount: the base every broken case edits.
ImageBuilder baseImage() {
  ImageBuilder image;
  Entry disk = testing::wholeDisk("disk0", 1000204886016);
  for (const char* bsd : {"disk0s1", "disk0s2", "disk0s3"}) disk.child(testing::partition(bsd, testing::kApfsContent, 209715200));
  image.add(std::move(disk));
  image.add(testing::volume(testing::volumeOutline("disk3s1", "Macintosh HD", "/")));
  image.mount({.on = "/", .from = "/dev/disk3s1s1", .type = "apfs"});
  return image;
}

// The dictionary at `path` in the machine.plist value: keys, and array indexes as text.
PlistDict& at(PlistValue& value, const std::vector<std::string>& path) {
  PlistValue* node = &value;
  for (const std::string& key : path) {
    node = node->asArray() ? &node->asArray()->at(std::stoul(key)) : &node->asDictionary()->find(key)->second;
  }
  return *node->asDictionary();
}

using Edit = std::function<void(PlistValue&)>;
Edit set(std::vector<std::string> path, std::string key, PlistValue value) {
  return [=](PlistValue& v) { at(v, path)[key] = value; };
}
Edit erase(std::vector<std::string> path, std::string key) {
  return [=](PlistValue& v) { at(v, path).erase(key); };
}

TEST(ImageLoad, RefusesABrokenMachinePlistWithOneLineNamingThePlace) {
  const std::vector<std::string> r1 = {"Registry", "1"}, props = {"Registry", "1", "Properties"},
                                 desc = {"Registry", "1", "Description"}, m0 = {"Mounts", "0"};
  const struct {
    Edit edit;
    const char* error;  // also names the case
  } cases[] = {
      {set({"Registry", "0", "Children", "2", "Description"}, "DAMediaSize", "5 GB"),
       "Registry[0].Children[2].Description.DAMediaSize: expected an integer, found a string"},
      {[](PlistValue& v) { v = PlistArray{}; }, "top level: expected a dictionary, found an array"},
      {erase({}, "Registry"), "Registry: missing"},
      {set({}, "Registry", PlistDict{}), "Registry: expected an array, found a dictionary"},
      {[](PlistValue& v) { at(v, {})["Registry"].asArray()->push_back("disk9"); }, "Registry[2]: expected a dictionary, found a string"},
      {erase(r1, "Class"), "Registry[1].Class: missing"},
      {set({"Registry", "0", "Children", "1"}, "Class", 7), "Registry[0].Children[1].Class: expected a string, found an integer"},
      {set(r1, "Class", ""), "Registry[1].Class: expected a class name, found an empty string"},
      {set({"Registry", "0"}, "Children", "disk0s1"), "Registry[0].Children: expected an array, found a string"},
      {set(r1, "IOMedia", 1), "Registry[1].IOMedia: expected a boolean, found an integer"},
      {set(r1, "Properties", PlistArray{}), "Registry[1].Properties: expected a dictionary, found an array"},
      {set(props, "BSD Name", PlistData{{1}}), "Registry[1].Properties.BSD Name: expected a string, found data"},
      {set(props, "Role", "System"), "Registry[1].Properties.Role: expected an array, found a string"},
      {set(props, "Role", PlistArray{"System", true}), "Registry[1].Properties.Role[1]: expected a string, found a boolean"},
      {set(r1, "Description", "apfs"), "Registry[1].Description: expected a dictionary, found a string"},
      {set(desc, "DAVolumeName", false), "Registry[1].Description.DAVolumeName: expected a string, found a boolean"},
      {set(desc, "DADeviceInternal", "Yes"), "Registry[1].Description.DADeviceInternal: expected a boolean, found a string"},
      {set(desc, "DAVolumeUUID", "424FEA98-2296-48FD-8DFF"),
       "Registry[1].Description.DAVolumeUUID: expected a UUID, found \"424FEA98-2296-48FD-8DFF\""},
      {set(desc, "DAMediaUUID", "424FEA98-2296-48FD-8DFF-0866835572EG"),
       "Registry[1].Description.DAMediaUUID: expected a UUID, found \"424FEA98-2296-48FD-8DFF-0866835572EG\""},
      {set(desc, "DAVolumeUUID", PlistData{{0x42}}), "Registry[1].Description.DAVolumeUUID: expected a UUID, found data"},
      {set(desc, "DAVolumePath", "/Volumes/Data"),
       "Registry[1].Description.DAVolumePath: expected a file URL, found \"/Volumes/Data\" (not a file:// URL)"},
      {set(desc, "DAVolumePath", "smb://nas/Backup/"),
       "Registry[1].Description.DAVolumePath: expected a file URL, found \"smb://nas/Backup/\" (not a file:// URL)"},
      {set(desc, "DAVolumePath", "file://nas/Backup/"),
       "Registry[1].Description.DAVolumePath: expected a file URL, found \"file://nas/Backup/\" (a host other than this machine)"},
      {set(desc, "DAVolumePath", "file:///Volumes/Backup Disk/"),
       "Registry[1].Description.DAVolumePath: expected a file URL, found \"file:///Volumes/Backup Disk/\" (a blank, which is written %20)"},
      {set(desc, "DAVolumePath", "file:///Volumes/A%G0/"),
       "Registry[1].Description.DAVolumePath: expected a file URL, found \"file:///Volumes/A%G0/\" (a bad %-escape)"},
      {set(desc, "DAVolumePath", "file:///Volumes/A%2"),
       "Registry[1].Description.DAVolumePath: expected a file URL, found \"file:///Volumes/A%2\" (a cut %-escape)"},
      {set(desc, "DAVolumePath", "file:///a\nb/"),
       "Registry[1].Description.DAVolumePath: expected a file URL, found \"file:///a\\x0Ab/\" (a character that must be %-escaped)"},
      {erase({}, "Mounts"), "Mounts: missing"},
      {set({}, "Mounts", PlistArray{PlistValue(PlistArray{})}), "Mounts[0]: expected a dictionary, found an array"},
      {erase(m0, "f_fstypename"), "Mounts[0].f_fstypename: missing"},
      {erase(m0, "f_mntfromname"), "Mounts[0].f_mntfromname: missing"},
      {set(m0, "f_mntonname", 1), "Mounts[0].f_mntonname: expected a string or data, found an integer"},
      {set(m0, "f_mntonname", PlistData{{'/', 0, 'x'}}), "Mounts[0].f_mntonname: holds a NUL byte"},
      {set(m0, "f_bsize", std::int64_t{4294967296}), "Mounts[0].f_bsize: expected an integer from 0 to 4294967295, found 4294967296"},
      {set(m0, "f_bsize", -4096), "Mounts[0].f_bsize: expected an integer from 0 to 4294967295, found -4096"},
      {set(m0, "f_blocks", -1), "Mounts[0].f_blocks: expected an integer from 0 to 18446744073709551615, found -1"},
      {set(m0, "f_bfree", 1.5), "Mounts[0].f_bfree: expected an integer, found a real"},
      {set({}, "UserName", PlistArray{}), "UserName: expected a string, found an array"},
      {set({}, "UserName", ""), "UserName: expected an account name, found an empty string"},
  };
  TempDir dir;
  baseImage().write(dir.path());
  for (const auto& c : cases) {
    PlistValue plist = baseImage().machinePlist();
    c.edit(plist);
    testing::writeFile(dir.path() / "machine.plist", writeXmlPlist(plist));
    LoadResult loaded = loadMachine(dir.str());
    EXPECT_EQ(loaded.machine, nullptr) << c.error;
    EXPECT_EQ(loaded.error, dir.str() + "/machine.plist: " + c.error);
  }
}

TEST(ImageLoad, RefusesAMissingOrUnreadableImageByItsPath) {
  TempDir dir;
  baseImage().write(dir.path());
  std::string plistPath = dir.str() + "/machine.plist";

  testing::writeFile(plistPath, "not a property list at all");
  EXPECT_EQ(loadMachine(dir.str()).error, plistPath + ": not a property list");
  testing::writeFile(plistPath, "");
  EXPECT_EQ(loadMachine(dir.str()).error, plistPath + ": not a property list");

  fs::remove(plistPath);
  EXPECT_EQ(loadMachine(dir.str()).error, plistPath + ": missing");
  fs::create_directory(plistPath);
  EXPECT_EQ(loadMachine(dir.str()).error, plistPath + ": not a file");
  fs::remove(plistPath);

  testing::writeFile(plistPath, writeXmlPlist(baseImage().machinePlist()));
  fs::remove_all(dir.path() / "root");
  EXPECT_EQ(loadMachine(dir.str()).error, dir.str() + "/root/: missing");
  // A trailing slash on the folder names the same files.
  EXPECT_EQ(loadMachine(dir.str() + "/").error, dir.str() + "/root/: missing");
  testing::writeFile(dir.path() / "root", "");
  EXPECT_EQ(loadMachine(dir.str()).error, dir.str() + "/root/: not a folder");

  EXPECT_EQ(loadMachine(dir.str() + "/nowhere").error, dir.str() + "/nowhere: missing");
  EXPECT_EQ(loadMachine(plistPath).error, plistPath + ": not a folder");
  EXPECT_FALSE(loadMachine("").error.empty());
}

Entry plain(const std::string& className, PlistDict properties = {}) {
  Entry e;
  e.className = className;
  e.properties = std::move(properties);
  return e;
}

// The registry's order, its descendants and its property search are what the volume list and
// the container members walk: the golden lists of the sample Macs and the framework tests go
// through them. Here: the rules by which a machine image's entries become media objects.
TEST(ImageRegistry, BsdNameLookupTakesTheFirstMediaObjectInOrder) {
  Entry media = plain("IOMedia", {{"BSD Name", PlistValue("disk7")}});
  media.ioMedia = true;  // a media object from which no disk object can be made
  Entry hidden = testing::volume(testing::volumeOutline("disk8", "Hidden"));
  hidden.ioMedia = false;  // a disk object that is no media object
  // Without a "BSD Name" property the description's name counts...
  Entry byDescription = testing::volume(testing::volumeOutline("disk5s1", "Described"));
  byDescription.properties.erase("BSD Name");
  // ...but a property that says otherwise wins over the description.
  Entry renamed = testing::volume(testing::volumeOutline("disk6s1", "Renamed"));
  renamed.properties["BSD Name"] = "disk6s9";
  Entry backup = testing::volume(testing::volumeOutline("disk4s2", "Backup Disk", "/Volumes/Backup Disk", "", "hfs"));
  backup.description->insert_or_assign("DAVolumeUUID", "424fea98-2296-48fd-8dff-0866835572e9");
  backup.description->insert_or_assign("DAMediaUUID", "E09ECFF1-c6dc-11E9-920b-806E6F6E6963");
  ImageBuilder builder;
  builder.add(plain("IOService", {{"BSD Name", PlistValue("disk9")}})).add(std::move(media)).add(std::move(hidden));
  builder.add(testing::volume(testing::volumeOutline("disk2s1", "First")));
  builder.add(testing::volume(testing::volumeOutline("disk2s1", "Second")));
  builder.add(std::move(byDescription)).add(std::move(renamed)).add(std::move(backup));
  ScopedMachine machine(builder);
  Registry& registry = current()->registry();
  EXPECT_EQ(registry.mediaObjects().size(), 6u);

  const struct {
    const char* bsd;
    bool media;
    const char* volumeName;  // of its description; nullptr: none
  } cases[] = {
      {"disk2s1", true, "First"}, {"disk5s1", true, "Described"}, {"disk6s9", true, "Renamed"}, {"disk7", true, nullptr},
      {"disk6s1", false, nullptr}, {"disk8", false, nullptr}, {"disk9", false, nullptr}, {"", false, nullptr},
      {"disk2", false, nullptr},
  };
  for (const auto& c : cases) {
    auto object = registry.mediaObjectForBSDName(c.bsd);
    auto description = registry.descriptionForBSDName(c.bsd);
    EXPECT_EQ(object.has_value(), c.media) << c.bsd;
    EXPECT_EQ(description ? *description->at("DAVolumeName").asString() : "-", c.volumeName ? c.volumeName : "-") << c.bsd;
    EXPECT_TRUE(!object || registry.description(*object) == description) << c.bsd;
  }

  // A description comes with its mount URL and its UUIDs in upper case.
  auto description = registry.descriptionForBSDName("disk4s2");
  ASSERT_NE(description, nullptr);
  EXPECT_EQ(description->at("DAVolumePath"), PlistValue(PlistUrl{"file:///Volumes/Backup%20Disk/"}));
  EXPECT_EQ(description->at("DAVolumeUUID"), PlistValue("424FEA98-2296-48FD-8DFF-0866835572E9"));
  EXPECT_EQ(description->at("DAMediaUUID"), PlistValue("E09ECFF1-C6DC-11E9-920B-806E6F6E6963"));
}

TEST(ImageMountTable, StatfsTakesTheLongestWholeComponentPrefix) {
  ImageBuilder image;
  image.mount({.on = "/", .from = "/dev/disk3s1s1", .type = "apfs", .blockSize = 4096, .blocks = 100, .freeBlocks = 1});
  image.mount({.on = "/Volumes/Data", .from = "/dev/disk4s1", .type = "hfs", .blockSize = 512, .blocks = 200, .freeBlocks = 2});
  image.mount({.on = "/Volumes/Data/Inner", .from = "/dev/disk5s1", .type = "msdos", .blocks = 300});
  image.mount({.on = "/Volumes/DataX/", .from = "/dev/disk6s1", .type = "exfat", .blocks = 400});
  // Mounted over the one before: the later mount on a folder is the one that answers.
  image.mount({.on = "/Volumes/Data/Inner", .from = "/dev/disk7s1", .type = "apfs", .blocks = 500});
  image.file("/Volumes/Data/file.txt", "x");
  image.file("/Volumes/DataY/file.txt", "y");
  image.file("/Volumes/DataX/deep/er/file", "z");
  TempDir dir;
  image.write(dir.path());
  // Binary machine.plist files load as well as XML ones.
  testing::writeFile(dir.path() / "machine.plist", writeBinaryPlist(image.machinePlist()));
  fs::create_directory_symlink("../Volumes/Data/Inner", dir.path() / "root/tmp/inner-link");
  fs::create_directory_symlink("/", dir.path() / "root/tmp/host-root");
  LoadResult loaded = loadMachine(dir.str());
  ASSERT_NE(loaded.machine, nullptr) << loaded.error;
  MountTable& table = loaded.machine->mountTable();

  const struct {
    const char* path;
    std::optional<std::uint64_t> blocks;  // which mount answers; nothing when statfs fails
  } cases[] = {
      {"/tmp", 100},
      {"/Volumes/Data/", 200},
      {"/Volumes/Data/Inner", 500},
      {"/Volumes/Data/Inner/../file.txt", 200},
      {"/Volumes/DataX/deep/er/file", 400},
      {"/Volumes/DataY/file.txt", 100},  // "/Volumes/Data" is not a prefix of "/Volumes/DataY"
      {"/tmp/inner-link", 500},          // found where the link leads
      {"/Volumes/Data/file.txt/x", std::nullopt},
      {"/Volumes/../../Volumes/Data", std::nullopt},
      {"/tmp/host-root/etc", std::nullopt},
  };
  for (const auto& c : cases) {
    auto figures = table.statfs(c.path);
    EXPECT_EQ(figures ? std::optional(figures->blocks) : std::nullopt, c.blocks) << c.path;
  }
  auto data = table.statfs("/Volumes/Data");
  EXPECT_TRUE(data && data->blockSize == 512u && data->freeBlocks == 2u);

  // (The scan's order and its stop, the mount lookups of system/ go through.)
}

TEST(ImageMountTable, StatfsFailsWithoutAMountAtTheTop) {
  ImageBuilder image;
  image.mount({.on = "/Volumes/Data", .from = "/dev/disk4s1", .type = "hfs"});
  ScopedMachine machine(image);
  EXPECT_EQ(current()->mountTable().statfs("/tmp"), std::nullopt);
  EXPECT_TRUE(current()->mountTable().statfs("/Volumes/Data").has_value());
}

const std::string kPlist = writeXmlPlist(PlistDict{{"LocalizedDiskImageVolumeName", PlistValue("Backups of Mac")}});

// An image folder with a property list and a tool inside root/, the same outside it (beside
// root/, where no path of the image may reach), and links of every kind pointing at both.
class ImageFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    ImageBuilder image;
    image.userName("lena");
    image.file("/Library/Preferences/com.apple.TimeMachine.plist", kPlist);
    image.tool("/usr/bin/echoargs", "#!/bin/sh\nprintf '%s|' \"$@\"\n");
    image.file("/a/b/file", "inside");
    image.write(dir_.path());
    testing::writeFile(dir_.path() / "outside.plist", kPlist);
    testing::writeFile(dir_.path() / "outside-tool", "#!/bin/sh\necho outside\n", 0755);
    fs::path root = dir_.path() / "root";
    fs::create_symlink("../../outside.plist", root / "Library/up.plist");         // climbs out
    fs::create_symlink((dir_.path() / "outside.plist").string(), root / "Library/abs.plist");  // absolute
    fs::create_symlink("Preferences/com.apple.TimeMachine.plist", root / "Library/tm.plist");  // stays inside
    fs::create_symlink("../usr/bin/echoargs", root / "a/tool-link");
    fs::create_symlink("../../../outside-tool", root / "usr/bin/escape");
    fs::create_symlink("/bin/sh", root / "usr/bin/sh");
    fs::create_symlink("loop", root / "a/loop");
    fs::create_directory_symlink("b", root / "a/c");
    LoadResult loaded = loadMachine(dir_.str());
    ASSERT_NE(loaded.machine, nullptr) << loaded.error;
    machine_ = loaded.machine;
    root_ = fs::canonical(root).string();
  }

  testing::TempDir dir_;
  std::shared_ptr<Machine> machine_;
  std::string root_;
};

TEST_F(ImageFiles, PathsResolveInsideTheRootOrNotAtAll) {
  constexpr LastLink follow = LastLink::Follow, keep = LastLink::Keep;
  const struct {
    const char* path;
    LastLink last;
    const char* image;  // the path on the imaged machine; nullptr: does not exist
  } cases[] = {
      {"/", follow, "/"},
      {"a/b/file", follow, "/a/b/file"},
      {"//a/./b//file", follow, "/a/b/file"},
      {"/a/c/file", follow, "/a/b/file"},
      {"/a/c/../b/file", follow, "/a/b/file"},
      {"/Library/tm.plist", follow, "/Library/Preferences/com.apple.TimeMachine.plist"},
      {"/a/tool-link", follow, "/usr/bin/echoargs"},
      {"/a/b/file/x", follow, nullptr},
      {"/a/missing", follow, nullptr},
      {"/..", follow, nullptr},
      {"/../root/a/b/file", follow, nullptr},
      {"/a/../../outside.plist", follow, nullptr},
      {"/Library/up.plist", follow, nullptr},
      {"/Library/abs.plist", follow, nullptr},
      {"/usr/bin/sh", follow, nullptr},
      {"/a/loop", follow, nullptr},
      {"", follow, nullptr},
      // Keep: the last component is not followed and need not exist; its folder must.
      {"/Library/abs.plist", keep, "/Library/abs.plist"},
      {"/tmp/new.temp", keep, "/tmp/new.temp"},
      {"/a/c/new", keep, "/a/b/new"},
      {"/a/b/file/new", keep, nullptr},
      {"/nowhere/new", keep, nullptr},
      {"/Library/up.plist/..", keep, nullptr},
      {"/", keep, nullptr},
  };
  for (const auto& c : cases) {
    auto found = resolveInRoot(root_, c.path, c.last);
    EXPECT_EQ(found ? found->imagePath : "-", c.image ? c.image : "-") << c.path;
    EXPECT_TRUE(!found || found->hostPath == (c.image == std::string("/") ? root_ : root_ + c.image)) << c.path;
  }
}

// Reading, creating, removing and running all go through that resolution: none reaches out of
// the root. (What they do inside it, the probe and tool tests of system/ and apfs/ check.)
TEST_F(ImageFiles, ServicesReachNothingOutsideTheRoot) {
  Files& files = machine_->files();
  Processes& processes = machine_->processes();
  EXPECT_EQ(files.readPlistFile("/Library/tm.plist"), readPlist(kPlist));
  EXPECT_EQ(files.readPlistFile("/Library/up.plist"), std::nullopt);
  EXPECT_EQ(files.readPlistFile("/../outside.plist"), std::nullopt);
  for (const char* tool : {"/usr/bin/escape", "/usr/bin/sh", "/../outside-tool", "usr/bin/echoargs", ""}) {
    EXPECT_EQ(processes.runTool({.tool = tool, .arguments = {}}), std::nullopt) << tool;
    EXPECT_FALSE(processes.runToolToFile({.tool = tool, .arguments = {}}, 1)) << tool;
  }
  EXPECT_EQ(processes.openShell("/usr/bin/escape x"), nullptr);
  EXPECT_EQ(processes.openShell("/bin/sh -c 'echo host'"), nullptr);
  EXPECT_FALSE(files.createExclusive("/Library/up.plist/../x.temp").valid());
  EXPECT_FALSE(fs::exists(dir_.path() / "x.temp"));
  EXPECT_TRUE(files.createExclusive("/Library/abs.plist").valid());  // the link, not its target
  EXPECT_TRUE(files.remove("/Library/up.plist"));
  EXPECT_FALSE(files.remove("/../outside.plist"));
  EXPECT_EQ(testing::readFile(dir_.path() / "outside.plist"), kPlist);
  EXPECT_EQ(files.userName(), "lena");
}

}  // namespace
}  // namespace strandel::platform::image
