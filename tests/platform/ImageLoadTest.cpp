#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "platform/image/ImageMachine.hpp"
#include "tests/support/ImageBuilder.hpp"
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

// The dictionary at `path` in the machine.plist value: keys, and array indexes as text.
PlistDict& at(PlistValue& value, const std::vector<std::string>& path) {
  PlistValue* node = &value;
  for (const std::string& key : path) {
    if (PlistArray* array = node->asArray()) {
      node = &(*array)[std::stoul(key)];
    } else {
      node = &node->asDictionary()->find(key)->second;
    }
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

}  // namespace
}  // namespace strandel::platform::image
