#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "platform/image/ImageMachine.hpp"
#include "tests/support/ImageBuilder.hpp"
#include "tests/support/Paths.hpp"
#include "tests/support/TempDir.hpp"

namespace strandel::platform::image {
namespace {

using testing::ImageBuilder;
using testing::TempDir;

// One whole disk with three partitions and one mount: the base every broken case edits.
ImageBuilder baseImage() {
  ImageBuilder image;
  testing::Entry disk = testing::wholeDisk("disk0", 1000204886016);
  disk.child(testing::partition("disk0s1", "C12A7328-F81F-11D2-BA4B-00A0C93EC93B", 209715200));
  disk.child(testing::partition("disk0s2", "7C3457EF-0000-11AA-AA11-00306543ECAC", 999995129856));
  disk.child(testing::partition("disk0s3", "52637672-7900-11AA-AA11-00306543ECAC", 5368664064));
  image.add(std::move(disk));
  image.add(testing::volume(testing::volumeOutline("disk3s1", "Macintosh HD", "/")));
  image.mount({.on = "/", .from = "/dev/disk3s1s1", .type = "apfs"});
  return image;
}

PlistDict& at(PlistValue& value, std::initializer_list<std::string_view> keys) {
  PlistValue* node = &value;
  for (std::string_view key : keys) {
    if (PlistArray* array = node->asArray()) {
      node = &(*array)[std::stoul(std::string(key))];
    } else {
      node = &node->asDictionary()->find(key)->second;
    }
  }
  return *node->asDictionary();
}

struct BrokenCase {
  const char* what;
  std::function<void(PlistValue&)> edit;
  const char* error;
};

TEST(ImageLoad, RefusesABrokenMachinePlistWithOneLineNamingThePlace) {
  const BrokenCase cases[] = {
      {"size as text", [](PlistValue& v) { at(v, {"Registry", "0", "Children", "2", "Description"})["DAMediaSize"] = "5 GB"; },
       "Registry[0].Children[2].Description.DAMediaSize: expected an integer, found a string"},
      {"top level", [](PlistValue& v) { v = PlistArray{}; }, "top level: expected a dictionary, found an array"},
      {"no registry", [](PlistValue& v) { v.asDictionary()->erase("Registry"); }, "Registry: missing"},
      {"registry kind", [](PlistValue& v) { at(v, {})["Registry"] = PlistDict{}; },
       "Registry: expected an array, found a dictionary"},
      {"entry kind", [](PlistValue& v) { at(v, {})["Registry"].asArray()->push_back("disk9"); },
       "Registry[2]: expected a dictionary, found a string"},
      {"no class", [](PlistValue& v) { at(v, {"Registry", "1"}).erase("Class"); }, "Registry[1].Class: missing"},
      {"class kind", [](PlistValue& v) { at(v, {"Registry", "0", "Children", "1"})["Class"] = 7; },
       "Registry[0].Children[1].Class: expected a string, found an integer"},
      {"empty class", [](PlistValue& v) { at(v, {"Registry", "1"})["Class"] = ""; },
       "Registry[1].Class: expected a class name, found an empty string"},
      {"children kind", [](PlistValue& v) { at(v, {"Registry", "0"})["Children"] = "disk0s1"; },
       "Registry[0].Children: expected an array, found a string"},
      {"iomedia kind", [](PlistValue& v) { at(v, {"Registry", "1"})["IOMedia"] = 1; },
       "Registry[1].IOMedia: expected a boolean, found an integer"},
      {"properties kind", [](PlistValue& v) { at(v, {"Registry", "1"})["Properties"] = PlistArray{}; },
       "Registry[1].Properties: expected a dictionary, found an array"},
      {"bsd name kind", [](PlistValue& v) { at(v, {"Registry", "1", "Properties"})["BSD Name"] = PlistData{{1}}; },
       "Registry[1].Properties.BSD Name: expected a string, found data"},
      {"role kind", [](PlistValue& v) { at(v, {"Registry", "1", "Properties"})["Role"] = "System"; },
       "Registry[1].Properties.Role: expected an array, found a string"},
      {"role entry kind", [](PlistValue& v) { at(v, {"Registry", "1", "Properties"})["Role"] = PlistArray{"System", true}; },
       "Registry[1].Properties.Role[1]: expected a string, found a boolean"},
      {"description kind", [](PlistValue& v) { at(v, {"Registry", "1"})["Description"] = "apfs"; },
       "Registry[1].Description: expected a dictionary, found a string"},
      {"name kind", [](PlistValue& v) { at(v, {"Registry", "1", "Description"})["DAVolumeName"] = false; },
       "Registry[1].Description.DAVolumeName: expected a string, found a boolean"},
      {"flag kind", [](PlistValue& v) { at(v, {"Registry", "1", "Description"})["DADeviceInternal"] = "Yes"; },
       "Registry[1].Description.DADeviceInternal: expected a boolean, found a string"},
      {"uuid form", [](PlistValue& v) { at(v, {"Registry", "1", "Description"})["DAVolumeUUID"] = "424FEA98-2296-48FD-8DFF"; },
       "Registry[1].Description.DAVolumeUUID: expected a UUID, found \"424FEA98-2296-48FD-8DFF\""},
      {"uuid letters", [](PlistValue& v) { at(v, {"Registry", "1", "Description"})["DAMediaUUID"] = "424FEA98-2296-48FD-8DFF-0866835572EG"; },
       "Registry[1].Description.DAMediaUUID: expected a UUID, found \"424FEA98-2296-48FD-8DFF-0866835572EG\""},
      {"uuid kind", [](PlistValue& v) { at(v, {"Registry", "1", "Description"})["DAVolumeUUID"] = PlistData{{0x42}}; },
       "Registry[1].Description.DAVolumeUUID: expected a UUID, found data"},
      {"plain path", [](PlistValue& v) { at(v, {"Registry", "1", "Description"})["DAVolumePath"] = "/Volumes/Data"; },
       "Registry[1].Description.DAVolumePath: expected a file URL, found \"/Volumes/Data\" (not a file:// URL)"},
      {"other scheme", [](PlistValue& v) { at(v, {"Registry", "1", "Description"})["DAVolumePath"] = "smb://nas/Backup/"; },
       "Registry[1].Description.DAVolumePath: expected a file URL, found \"smb://nas/Backup/\" (not a file:// URL)"},
      {"remote host", [](PlistValue& v) { at(v, {"Registry", "1", "Description"})["DAVolumePath"] = "file://nas/Backup/"; },
       "Registry[1].Description.DAVolumePath: expected a file URL, found \"file://nas/Backup/\" (a host other than this machine)"},
      {"blank", [](PlistValue& v) { at(v, {"Registry", "1", "Description"})["DAVolumePath"] = "file:///Volumes/Backup Disk/"; },
       "Registry[1].Description.DAVolumePath: expected a file URL, found \"file:///Volumes/Backup Disk/\" (a blank, which is written %20)"},
      {"bad escape", [](PlistValue& v) { at(v, {"Registry", "1", "Description"})["DAVolumePath"] = "file:///Volumes/A%G0/"; },
       "Registry[1].Description.DAVolumePath: expected a file URL, found \"file:///Volumes/A%G0/\" (a bad %-escape)"},
      {"cut escape", [](PlistValue& v) { at(v, {"Registry", "1", "Description"})["DAVolumePath"] = "file:///Volumes/A%2"; },
       "Registry[1].Description.DAVolumePath: expected a file URL, found \"file:///Volumes/A%2\" (a cut %-escape)"},
      {"line feed", [](PlistValue& v) { at(v, {"Registry", "1", "Description"})["DAVolumePath"] = "file:///a\nb/"; },
       "Registry[1].Description.DAVolumePath: expected a file URL, found \"file:///a\\x0Ab/\" (a character that must be %-escaped)"},
      {"no mounts", [](PlistValue& v) { v.asDictionary()->erase("Mounts"); }, "Mounts: missing"},
      {"mount kind", [](PlistValue& v) { at(v, {})["Mounts"] = PlistArray{PlistValue(PlistArray{})}; },
       "Mounts[0]: expected a dictionary, found an array"},
      {"no type", [](PlistValue& v) { at(v, {"Mounts", "0"}).erase("f_fstypename"); }, "Mounts[0].f_fstypename: missing"},
      {"no from", [](PlistValue& v) { at(v, {"Mounts", "0"}).erase("f_mntfromname"); }, "Mounts[0].f_mntfromname: missing"},
      {"on kind", [](PlistValue& v) { at(v, {"Mounts", "0"})["f_mntonname"] = 1; },
       "Mounts[0].f_mntonname: expected a string or data, found an integer"},
      {"nul in name", [](PlistValue& v) { at(v, {"Mounts", "0"})["f_mntonname"] = PlistData{{'/', 0, 'x'}}; },
       "Mounts[0].f_mntonname: holds a NUL byte"},
      {"block size too big", [](PlistValue& v) { at(v, {"Mounts", "0"})["f_bsize"] = std::int64_t{4294967296}; },
       "Mounts[0].f_bsize: expected an integer from 0 to 4294967295, found 4294967296"},
      {"block size negative", [](PlistValue& v) { at(v, {"Mounts", "0"})["f_bsize"] = -4096; },
       "Mounts[0].f_bsize: expected an integer from 0 to 4294967295, found -4096"},
      {"blocks negative", [](PlistValue& v) { at(v, {"Mounts", "0"})["f_blocks"] = -1; },
       "Mounts[0].f_blocks: expected an integer from 0 to 18446744073709551615, found -1"},
      {"free kind", [](PlistValue& v) { at(v, {"Mounts", "0"})["f_bfree"] = 1.5; },
       "Mounts[0].f_bfree: expected an integer, found a real"},
      {"user kind", [](PlistValue& v) { at(v, {})["UserName"] = PlistArray{}; },
       "UserName: expected a string, found an array"},
      {"user empty", [](PlistValue& v) { at(v, {})["UserName"] = ""; },
       "UserName: expected an account name, found an empty string"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    baseImage().write(dir.path());
    PlistValue plist = baseImage().machinePlist();
    c.edit(plist);
    testing::writeFile(dir.path() / "machine.plist", writeXmlPlist(plist));
    LoadResult loaded = loadMachine(dir.str());
    EXPECT_EQ(loaded.machine, nullptr) << c.what;
    EXPECT_EQ(loaded.error, dir.str() + "/machine.plist: " + c.error) << c.what;
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

  std::filesystem::remove(plistPath);
  EXPECT_EQ(loadMachine(dir.str()).error, plistPath + ": missing");
  std::filesystem::create_directory(plistPath);
  EXPECT_EQ(loadMachine(dir.str()).error, plistPath + ": not a file");
  std::filesystem::remove(plistPath);

  testing::writeFile(plistPath, writeXmlPlist(baseImage().machinePlist()));
  std::filesystem::remove_all(dir.path() / "root");
  EXPECT_EQ(loadMachine(dir.str()).error, dir.str() + "/root/: missing");
  // A trailing slash on the folder names the same files.
  EXPECT_EQ(loadMachine(dir.str() + "/").error, dir.str() + "/root/: missing");
  testing::writeFile(dir.path() / "root", "");
  EXPECT_EQ(loadMachine(dir.str()).error, dir.str() + "/root/: not a folder");

  EXPECT_EQ(loadMachine(dir.str() + "/nowhere").error, dir.str() + "/nowhere: missing");
  EXPECT_EQ(loadMachine(plistPath).error, plistPath + ": not a folder");
  EXPECT_FALSE(loadMachine("").error.empty());
}

TEST(ImageLoad, ReadsBinaryMachinePlistsAsWellAsXml) {
  TempDir dir;
  baseImage().write(dir.path());
  testing::writeFile(dir.path() / "machine.plist", writeBinaryPlist(baseImage().machinePlist()));
  LoadResult loaded = loadMachine(dir.str());
  ASSERT_NE(loaded.machine, nullptr) << loaded.error;
  EXPECT_EQ(loaded.machine->registry().mediaObjects().size(), 5u);
}

TEST(ImageLoad, TheSampleMacLoads) {
  LoadResult loaded = loadMachine(testing::sampleMachine("apple-silicon-macos26"));
  ASSERT_NE(loaded.machine, nullptr) << loaded.error;
  EXPECT_EQ(loaded.machine->files().userName(), "lena");
  auto root = loaded.machine->registry().descriptionForBSDName("disk3s1s1");
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->find("DAVolumePath")->second, PlistValue(PlistUrl{"file:///"}));
}

}  // namespace
}  // namespace strandel::platform::image
