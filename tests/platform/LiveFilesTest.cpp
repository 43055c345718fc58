#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "platform/live/LiveServices.hpp"
#include "tests/support/TempDir.hpp"

namespace strandel::platform {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using testing::readFile;
using testing::writeFile;

TEST(LiveFiles, CreateExclusiveReplacesFilesAndLinksButNotFolders) {
  TempDir dir;
  auto files = live::makeLiveFiles();
  fs::path path = dir.path() / "probe.temp";

  UniqueFd fresh = files->createExclusive(path.string());
  ASSERT_TRUE(fresh);
  struct stat info;
  ASSERT_EQ(::fstat(fresh.get(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  EXPECT_EQ(info.st_uid, ::geteuid());
  ASSERT_EQ(::write(fresh.get(), "new", 3), 3);

  // A file left by an earlier run is replaced by an empty one.
  writeFile(path, "left over");
  UniqueFd replaced = files->createExclusive(path.string());
  ASSERT_TRUE(replaced);
  EXPECT_EQ(readFile(path), "");

  // A link planted at the path is removed, never followed: its target keeps its bytes.
  fs::path target = dir.path() / "precious";
  writeFile(target, "keep me");
  fs::remove(path);
  fs::create_symlink(target, path);
  UniqueFd overLink = files->createExclusive(path.string());
  ASSERT_TRUE(overLink);
  EXPECT_FALSE(fs::is_symlink(path));
  EXPECT_EQ(readFile(target), "keep me");

  // A dangling link too.
  fs::remove(path);
  fs::create_symlink(dir.path() / "nowhere", path);
  EXPECT_TRUE(files->createExclusive(path.string()));
  EXPECT_FALSE(fs::exists(dir.path() / "nowhere"));

  fs::create_directory(dir.path() / "folder");
  writeFile(dir.path() / "folder" / "inside", "x");
  EXPECT_FALSE(files->createExclusive((dir.path() / "folder").string()));
  EXPECT_TRUE(fs::exists(dir.path() / "folder" / "inside"));
  EXPECT_FALSE(files->createExclusive((dir.path() / "missing-folder" / "x").string()));
}

TEST(LiveFiles, RemoveTellsWhetherSomethingWasRemoved) {
  TempDir dir;
  auto files = live::makeLiveFiles();
  fs::path path = dir.path() / "f";
  writeFile(path, "x");
  EXPECT_TRUE(files->remove(path.string()));
  EXPECT_FALSE(fs::exists(path));
  EXPECT_FALSE(files->remove(path.string()));
  fs::create_directory(path);
  EXPECT_FALSE(files->remove(path.string()));
  EXPECT_TRUE(fs::exists(path));
}

TEST(LiveFiles, ReadsPropertyListFilesOfEitherForm) {
  TempDir dir;
  auto files = live::makeLiveFiles();
  PlistDict dict{{"AutoBackup", PlistValue(true)}, {"Name", PlistValue("Backup Disk")}};
  writeFile(dir.path() / "xml.plist", writeXmlPlist(PlistValue(dict)));
  writeFile(dir.path() / "binary.plist", writeBinaryPlist(PlistValue(dict)));
  writeFile(dir.path() / "garbage.plist", "not a property list");
  writeFile(dir.path() / "empty.plist", "");
  fs::create_directory(dir.path() / "folder.plist");

  EXPECT_EQ(files->readPlistFile((dir.path() / "xml.plist").string()), PlistValue(dict));
  EXPECT_EQ(files->readPlistFile((dir.path() / "binary.plist").string()), PlistValue(dict));
  for (const char* name : {"garbage.plist", "empty.plist", "folder.plist", "missing.plist"}) {
    EXPECT_FALSE(files->readPlistFile((dir.path() / name).string())) << name;
  }
}

TEST(LiveFiles, UserNameIsTheAccountOfTheEffectiveUser) {
  passwd* entry = ::getpwuid(::geteuid());
  std::string name = live::makeLiveFiles()->userName();
  if (entry) {
    EXPECT_EQ(name, entry->pw_name);
  } else {
    EXPECT_FALSE(name.empty());
  }
}

}  // namespace
}  // namespace strandel::platform
