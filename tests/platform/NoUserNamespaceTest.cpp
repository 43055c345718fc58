// The sandbox where the kernel refuses user namespaces: the tool runs under a filter that makes
// every request for one fail, and an image's tools must still run, confined by what is left,
// with one line on standard error saying what is missing.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <sstream>
#include <string>

#include "tests/support/ImageBuilder.hpp"
#include "tests/support/Paths.hpp"
#include "tests/support/TempDir.hpp"

namespace strandel {
namespace {

using testing::readFile;

TEST(WithoutUserNamespaces, ToolsRunWithWhatIsLeftAndOneLineSaysWhatIsMissing) {
  testing::TempDir dir, scratch;
  testing::ImageBuilder image;
  image.mount({.on = "/", .from = "/dev/disk1s5", .type = "apfs"});
  image.file("/usr/bin/hostile", readFile(STRANDEL_HOSTILE_TOOL), 0755);
  // The session, the filter and Landlock, each tried once.
  image.tool("/usr/sbin/diskutil",
             "#!/bin/sh\nfor what in tty keyring ptrace 'fd 7'; do \"${0%/*}/../bin/hostile\" "
             "$what; done\n");
  image.write(dir.path());
  const std::string out = (scratch.path() / "out").string(), err = (scratch.path() / "err").string();
  const std::string command = std::string(STRANDEL_WITHOUT_USERNS) + " " + testing::toolPath() + " --machine '" +
                              dir.str() + "' verify disk1s5 >'" + out + "' 2>'" + err + "' 7<" + STRANDEL_HOSTILE_TOOL;
  int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 2 && readFile(err).find("filter could not be loaded") != std::string::npos) {
    GTEST_SKIP() << "no seccomp filter can be loaded here, so user namespaces can't be refused for the test";
  }
  EXPECT_EQ(WEXITSTATUS(status), 0) << readFile(err);
  std::istringstream answers(readFile(out));
  int count = 0;
  for (std::string line; std::getline(answers, line); ++count) EXPECT_EQ(line.rfind("refused", 0), 0u) << line;
  EXPECT_EQ(count, 4);
  std::istringstream said(readFile(err));
  int aboutNamespaces = 0;
  for (std::string line; std::getline(said, line);) {
    EXPECT_EQ(line.rfind("strandel: ", 0), 0u) << line;
    if (line.find("refuses user namespaces") != std::string::npos) ++aboutNamespaces;
  }
  EXPECT_EQ(aboutNamespaces, 1) << readFile(err);
}

}  // namespace
}  // namespace strandel
