// Machine images: what the loader refuses and how, the rules by which its entries become media
// objects, the mount table's answers, and paths that try to leave root/.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdio.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <thread>

#include "platform/image/ImageMachine.hpp"
#include "platform/image/RootPaths.hpp"
#include "platform/linux/Sandbox.hpp"
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
  for (const char* bsd : {"disk0s1", "disk0s2", "disk0s3"})
    disk.child(testing::partition(bsd, testing::kApfsContent, 209715200));
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

// One case per kind of refusal: a missing key, a value of the wrong kind, a value of the right
// kind that is not allowed, each with the place named as a path into the file.
TEST(ImageLoad, RefusesABrokenMachinePlistWithOneLineNamingThePlace) {
  const std::vector<std::string> desc = {"Registry", "1", "Description"}, m0 = {"Mounts", "0"};
  const struct {
    Edit edit;
    const char* error;  // also names the case
  } cases[] = {
      {set({"Registry", "0", "Children", "2", "Description"}, "DAMediaSize", "5 GB"),
       "Registry[0].Children[2].Description.DAMediaSize: expected an integer, found a string"},
      {erase({}, "Registry"), "Registry: missing"},
      {set({"Registry", "1"}, "Class", ""), "Registry[1].Class: expected a class name, found an empty string"},
      {set(desc, "DAVolumeUUID", "424FEA98"),
       "Registry[1].Description.DAVolumeUUID: expected a UUID, found \"424FEA98\""},
      {set(desc, "DAVolumePath", "file:///a\nb/"),
       "Registry[1].Description.DAVolumePath: expected a file URL, found \"file:///a\\x0Ab/\" (a "
       "character that must be %-escaped)"},
      {set(m0, "f_mntonname", PlistData{{'/', 0, 'x'}}), "Mounts[0].f_mntonname: holds a NUL byte"},
      {set(m0, "f_bsize", std::int64_t{4294967296}),
       "Mounts[0].f_bsize: expected an integer from 0 to 4294967295, found 4294967296"},
  };
  TempDir dir;
  baseImage().write(dir.path());
  for (const auto& c : cases) {
    PlistValue plist = baseImage().machinePlist();
    c.edit(plist);
    testing::writeFile(dir.path() / "machine.plist", writeXmlPlist(plist));
    LoadResult loaded = loadMachine(dir.str(), live::makeSandbox);
    EXPECT_EQ(loaded.machine, nullptr) << c.error;
    EXPECT_EQ(loaded.error, dir.str() + "/machine.plist: " + c.error);
  }
}

TEST(ImageLoad, RefusesAMissingOrUnreadableImageByItsPath) {
  TempDir dir;
  baseImage().write(dir.path());
  std::string plistPath = dir.str() + "/machine.plist";
  const std::string whole = writeXmlPlist(baseImage().machinePlist());
  testing::writeFile(plistPath, whole.substr(0, whole.size() / 2));  // cut short
  // The reader's refusal says where the list broke off.
  EXPECT_EQ(loadMachine(dir.str(), live::makeSandbox).error.rfind(plistPath + ": not a property list (line ", 0), 0u);

  fs::remove(plistPath);
  EXPECT_EQ(loadMachine(dir.str(), live::makeSandbox).error, plistPath + ": missing");
  fs::create_directory(plistPath);
  EXPECT_EQ(loadMachine(dir.str(), live::makeSandbox).error, plistPath + ": not a file");
  fs::remove(plistPath);

  testing::writeFile(plistPath, whole);
  fs::remove_all(dir.path() / "root");
  // A trailing slash on the folder names the same files.
  EXPECT_EQ(loadMachine(dir.str() + "/", live::makeSandbox).error, dir.str() + "/root/: missing");
  testing::writeFile(dir.path() / "root", "");
  EXPECT_EQ(loadMachine(dir.str(), live::makeSandbox).error, dir.str() + "/root/: not a folder");
  // Links would make a host's folder or file the image's own.
  fs::remove(dir.path() / "root");
  fs::create_directory_symlink("/", dir.path() / "root");
  EXPECT_EQ(loadMachine(dir.str(), live::makeSandbox).error,
            dir.str() + "/root/: a link, not a folder of the image's own");
  fs::rename(plistPath, dir.path() / "elsewhere.plist");
  fs::create_symlink("elsewhere.plist", plistPath);
  EXPECT_EQ(loadMachine(dir.str(), live::makeSandbox).error, plistPath + ": a link, not a file of the image's own");
}

// The machine of a fresh process whose STRANDEL_MACHINE is no image: never the live host,
// whose mounts would be taken for the image's, but a machine that answers nothing, said once.
// It runs in a new process of this test program, where the machine is not chosen yet.
TEST(ImageLoad, AnUnusableMachineFromTheEnvironmentAnswersNothing) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        ::setenv("STRANDEL_MACHINE", "/nonexistent-image", 1);
        auto machine = current();
        bool anyMount = false;
        bool read = machine->mountTable().scan([&](const MountEntryView&) { return anyMount = true; });
        std::exit(read || anyMount || machine->mountTable().statfs("/") ? 1 : 0);
      },
      ::testing::ExitedWithCode(0), "STRANDEL_MACHINE can't be used, so nothing is answered: /nonexistent-image");
}

Entry plain(const std::string& className, PlistDict properties = {}) {
  Entry e;
  e.className = className;
  e.properties = std::move(properties);
  return e;
}

// The registry's order, its descendants, its property search and what a description holds are
// what the volume list and the container members walk: the golden lists of the sample Macs and
// the framework tests go through them. Here: the rules by which a BSD name finds its entry.
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
  ImageBuilder builder;
  builder.add(plain("IOService", {{"BSD Name", PlistValue("disk9")}})).add(std::move(media)).add(std::move(hidden));
  builder.add(testing::volume(testing::volumeOutline("disk2s1", "First")));
  builder.add(testing::volume(testing::volumeOutline("disk2s1", "Second")));
  builder.add(std::move(byDescription)).add(std::move(renamed));
  ScopedMachine machine(builder);
  Registry& registry = current()->registry();
  EXPECT_EQ(registry.mediaObjects().size(), 5u);

  const struct {
    const char* bsd;
    bool media;
    const char* volumeName;  // of its description; nullptr: none
  } cases[] = {
      {"disk2s1", true, "First"}, {"disk5s1", true, "Described"}, {"disk6s9", true, "Renamed"},
      {"disk7", true, nullptr},   {"disk6s1", false, nullptr},    {"disk8", false, nullptr},
      {"disk9", false, nullptr},
  };
  for (const auto& c : cases) {
    auto object = registry.mediaObjectForBSDName(c.bsd);
    auto description = registry.descriptionForBSDName(c.bsd);
    EXPECT_EQ(object.has_value(), c.media) << c.bsd;
    EXPECT_EQ(description ? *description->at("DAVolumeName").asString() : "-", c.volumeName ? c.volumeName : "-")
        << c.bsd;
    EXPECT_TRUE(!object || registry.description(*object) == description) << c.bsd;
  }
}

// Which mount answers a path; how the path itself resolves in root/ is ImageFiles' table, and
// the figures a mount gives (the root's for a path under no other mount), the capacity tests read.
TEST(ImageMountTable, StatfsTakesTheLongestWholeComponentPrefix) {
  ImageBuilder image;
  image.mount({.on = "/", .from = "/dev/disk3s1s1", .type = "apfs", .blocks = 100});
  image.mount(
      {.on = "/Volumes/Data/", .from = "/dev/disk4s1", .type = "hfs", .blocks = 200});  // the same as without the slash
  image.mount({.on = "/Volumes/Data/Inner", .from = "/dev/disk5s1", .type = "msdos", .blocks = 300});
  // Mounted over the one before: the later mount on a folder is the one that answers.
  image.mount({.on = "/Volumes/Data/Inner", .from = "/dev/disk7s1", .type = "apfs", .blocks = 500});
  image.file("/Volumes/DataY/file.txt", "y");
  ScopedMachine machine(image);
  MountTable& table = current()->mountTable();

  const struct {
    const char* path;
    std::uint64_t blocks;  // which mount answers
  } cases[] = {
      {"/Volumes/Data", 200},
      {"/Volumes/Data/Inner", 500},
      {"/Volumes/DataY/file.txt", 100},  // "/Volumes/Data" is not a prefix of "/Volumes/DataY"
  };
  for (const auto& c : cases) {
    auto figures = table.statfs(c.path);
    EXPECT_EQ(figures ? figures->blocks : 0u, c.blocks) << c.path;
  }
}

const std::string kPlist = writeXmlPlist(PlistDict{{"LocalizedDiskImageVolumeName", PlistValue("Backups of Mac")}});

// An image folder with a property list and a tool inside root/, the same outside it (beside
// root/, where no path of the image may reach), and links of every kind pointing at both.
// Reading, creating, removing and running all go through the resolution of paths in root/: none
// reaches out of it. (What they do inside it, the probe and tool tests of system/ and apfs/ check.)
TEST(ImageFiles, PathsAndServicesReachNothingOutsideTheRoot) {
  TempDir dir;
  ImageBuilder image;
  image.userName("lena");
  image.file("/Library/Preferences/com.apple.TimeMachine.plist", kPlist);
  image.tool("/usr/bin/echoargs", "#!/bin/sh\nprintf '%s|' \"$@\"\n");
  image.file("/a/b/file", "inside");
  image.write(dir.path());
  testing::writeFile(dir.path() / "outside.plist", kPlist);
  testing::writeFile(dir.path() / "outside-tool", "#!/bin/sh\necho outside\n", 0755);
  fs::path root = dir.path() / "root";
  // Links that climb out, that name the host's file, and one that stays inside.
  fs::create_symlink("../../outside.plist", root / "Library/up.plist");
  fs::create_symlink((dir.path() / "outside.plist").string(), root / "Library/abs.plist");
  fs::create_symlink("Preferences/com.apple.TimeMachine.plist", root / "Library/tm.plist");
  fs::create_symlink("../../../outside-tool", root / "usr/bin/escape");
  fs::create_symlink("/bin/sh", root / "usr/bin/sh");
  fs::create_symlink("loop", root / "a/loop");
  fs::create_directory_symlink("b", root / "a/c");
  // Absolute, meaning the image's own file.
  fs::create_symlink("/a/b/file", root / "Library/inside-abs");
  LoadResult loaded = loadMachine(dir.str(), live::makeSandbox);
  ASSERT_NE(loaded.machine, nullptr) << loaded.error;
  const std::string canonicalRoot = fs::canonical(root).string();

  // As on the imaged machine: absolute links name the image's files and ".." stops at the root.
  const struct {
    const char* path;
    const char* image;  // the path on the imaged machine; nullptr: does not exist
  } cases[] = {
      {"/", "/"},
      {"//a/./b//file", "/a/b/file"},
      {"/a/c/file", "/a/b/file"},
      {"/a/c/../b/file", "/a/b/file"},
      {"/../../a/b/file", "/a/b/file"},
      {"/Library/inside-abs", "/a/b/file"},
      {"/../root/a/b/file", nullptr},
      {"/Library/up.plist", nullptr},
      {"/Library/abs.plist", nullptr},
      {"/a/loop", nullptr},
      {"/a/b/file/", nullptr},
  };
  // The last component kept: its folder must exist, the component itself need not.
  const struct {
    const char* path;
    const char* name;  // nullptr: no folder to hold it
  } kept[] = {
      {"/Library/abs.plist", "abs.plist"}, {"/a/c/new", "new"}, {"/nowhere/new", nullptr},
      {"/Library/up.plist/..", nullptr},   {"/", nullptr},
  };
  for (Resolver resolver : {Resolver::Kernel, Resolver::Walk}) {
    auto imageRoot = ImageRoot::open(canonicalRoot, resolver);
    ASSERT_TRUE(imageRoot);
    const char* who = resolver == Resolver::Kernel ? "kernel: " : "walk: ";
    for (const auto& c : cases) {
      auto found = imageRoot->locate(c.path);
      EXPECT_EQ(found ? found->imagePath : "-", c.image ? c.image : "-") << who << c.path;
      EXPECT_EQ(imageRoot->openFile(c.path, O_RDONLY).valid(), c.image != nullptr) << who << c.path;
    }
    for (const auto& c : kept) {
      auto parent = imageRoot->parentOf(c.path);
      EXPECT_EQ(parent ? parent->name : "-", c.name ? c.name : "-") << who << c.path;
    }
  }

  Files& files = loaded.machine->files();
  Processes& processes = loaded.machine->processes();
  EXPECT_EQ(files.readPlistFile("/Library/tm.plist"), readPlist(kPlist));
  EXPECT_EQ(files.readPlistFile("/Library/up.plist"), std::nullopt);
  for (const char* tool : {"/usr/bin/escape", "/usr/bin/sh", "/../outside-tool", "usr/bin/echoargs", ""}) {
    EXPECT_EQ(processes.runTool({.tool = tool, .arguments = {}}), std::nullopt) << tool;
    EXPECT_FALSE(processes.runToolToFile({.tool = tool, .arguments = {}}, 1)) << tool;
  }
  EXPECT_EQ(processes.openShell("/usr/bin/escape", "x"), nullptr);
  EXPECT_FALSE(files.createExclusive("/Library/up.plist/../x.temp").valid());
  EXPECT_FALSE(fs::exists(dir.path() / "x.temp"));
  EXPECT_TRUE(files.createExclusive("/Library/abs.plist").valid());  // the link, not its target
  EXPECT_TRUE(files.remove("/Library/up.plist"));
  EXPECT_FALSE(files.remove("/../outside.plist"));
  EXPECT_EQ(testing::readFile(dir.path() / "outside.plist"), kPlist);
  EXPECT_EQ(files.userName(), "lena");
}

// A folder traded for a link to the outside while files are made through it: with either
// resolver a file lands in the image's folder or nowhere.
TEST(ImageRoot, AFolderSwappedForALinkLeadsNowhereOutside) {
  for (Resolver resolver : {Resolver::Kernel, Resolver::Walk}) {
    TempDir image, outside;
    fs::create_directories(image.path() / "tmp");
    fs::create_directory_symlink(outside.path(), image.path() / "link");
    auto root = ImageRoot::open(fs::canonical(image.path()).string(), resolver);
    ASSERT_TRUE(root);
    std::atomic<bool> stop{false};
    std::thread swapper([&] {
      while (!stop)
        ::renameat2(AT_FDCWD, (image.path() / "tmp").c_str(), AT_FDCWD, (image.path() / "link").c_str(),
                    RENAME_EXCHANGE);
    });
    for (int i = 0; i < 1000; ++i) {
      if (auto parent = root->parentOf("/tmp/probe")) {
        UniqueFd made(::openat(parent->folder.get(), "probe", O_CREAT | O_WRONLY | O_NOFOLLOW | O_CLOEXEC, 0600));
        ::unlinkat(parent->folder.get(), "probe", 0);
      }
      UniqueFd other = root->openFile("/tmp/other", O_CREAT | O_WRONLY, LastLink::Keep, 0600);
    }
    stop = true;
    swapper.join();
    EXPECT_TRUE(fs::is_empty(outside.path())) << (resolver == Resolver::Kernel ? "kernel" : "walk");
  }
}

}  // namespace
}  // namespace strandel::platform::image
