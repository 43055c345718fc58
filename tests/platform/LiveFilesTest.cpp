// The live host's files and its log line.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <regex>

#include "platform/ProgramName.hpp"
#include "platform/live/LiveMachine.hpp"
#include "platform/live/LiveServices.hpp"
#include "tests/support/TempDir.hpp"

namespace strandel::platform {
namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::writeFile;

TEST(LiveFiles, CreateExclusiveAndRemoveTakeLinksNotTheirTargets) {
  testing::TempDir dir;
  auto files = live::makeLiveFiles();
  fs::path path = dir.path() / "probe.temp", target = dir.path() / "precious";
  UniqueFd fresh = files->createExclusive(path.string());
  struct stat info;
  ASSERT_EQ(::fstat(fresh.get(), &info), 0);
  EXPECT_TRUE((info.st_mode & 0777) == 0600 && info.st_uid == ::geteuid());
  // A file left by an earlier run is replaced by an empty one; a link planted at the path,
  // dangling or not, is removed, never followed.
  writeFile(path, "left over");
  EXPECT_TRUE(files->createExclusive(path.string()));
  EXPECT_EQ(readFile(path), "");
  writeFile(target, "keep me");
  for (const fs::path& pointsAt : {target, dir.path() / "nowhere"}) {
    fs::remove(path);
    fs::create_symlink(pointsAt, path);
    EXPECT_TRUE(files->createExclusive(path.string()));
    EXPECT_FALSE(fs::is_symlink(path));
  }
  EXPECT_FALSE(fs::exists(dir.path() / "nowhere"));
  fs::create_symlink(target, dir.path() / "link");
  EXPECT_TRUE(files->remove((dir.path() / "link").string()));
  EXPECT_FALSE(files->remove((dir.path() / "link").string()));
  EXPECT_EQ(readFile(target), "keep me");
  // Folders are neither replaced nor removed.
  writeFile(dir.path() / "folder" / "inside", "x");
  EXPECT_FALSE(files->createExclusive((dir.path() / "folder").string()));
  EXPECT_FALSE(files->remove((dir.path() / "folder").string()));
  EXPECT_TRUE(fs::exists(dir.path() / "folder" / "inside"));
  EXPECT_FALSE(files->createExclusive((dir.path() / "missing-folder" / "x").string()));
}

TEST(LiveFiles, ReadsPropertyListFilesOfEitherForm) {
  testing::TempDir dir;
  auto files = live::makeLiveFiles();
  PlistValue dict(PlistDict{{"AutoBackup", PlistValue(true)}, {"Name", PlistValue("Backup Disk")}});
  writeFile(dir.path() / "xml.plist", writeXmlPlist(dict));
  writeFile(dir.path() / "binary.plist", writeBinaryPlist(dict));
  EXPECT_EQ(files->readPlistFile((dir.path() / "xml.plist").string()), dict);
  EXPECT_EQ(files->readPlistFile((dir.path() / "binary.plist").string()), dict);
  EXPECT_EQ(files->readPlistFile(dir.str()), std::nullopt);
  EXPECT_EQ(files->readPlistFile((dir.path() / "missing.plist").string()), std::nullopt);
}

TEST(LiveLog, WritesOneStampedLineToStandardError) {
  testing::TempDir dir;
  fs::path path = dir.path() / "stderr";
  {
    UniqueFd capture(::open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY | O_CLOEXEC, 0600));
    UniqueFd saved(::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3));
    ::dup2(capture.get(), STDERR_FILENO);
    auto machine = live::makeLiveMachine();
    machine->log().write("{\n    ProductName = \"Mac OS X\";\n}");
    machine->log().write("second %@");
    ::dup2(saved.get(), STDERR_FILENO);
  }
  EXPECT_EQ(programName(), "test_platform");
  std::string prefix = R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} test_platform\[)" + std::to_string(::getpid()) + "\\] ";
  std::regex expected(prefix + R"(\{\n    ProductName = "Mac OS X";\n\}\n)" + prefix + "second %@\n");
  EXPECT_TRUE(std::regex_match(readFile(path), expected)) << readFile(path);
}

}  // namespace
}  // namespace strandel::platform
