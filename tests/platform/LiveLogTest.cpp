#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <regex>

#include "platform/ProgramName.hpp"
#include "platform/live/LiveMachine.hpp"
#include "tests/support/TempDir.hpp"

namespace strandel::platform {
namespace {

TEST(LiveLog, WritesOneStampedLineToStandardError) {
  testing::TempDir dir;
  std::string path = (dir.path() / "stderr").string();
  {
    UniqueFd capture(::open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY | O_CLOEXEC, 0600));
    UniqueFd saved(::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3));
    ::dup2(capture.get(), STDERR_FILENO);
    auto machine = live::makeLiveMachine();
    machine->log().write("{\n    ProductName = \"Mac OS X\";\n}");
    machine->log().write("second %@");
    ::dup2(saved.get(), STDERR_FILENO);
  }
  const std::string contents = testing::readFile(path);
  EXPECT_EQ(programName(), "test_platform");
  std::string pid = std::to_string(::getpid());
  std::string prefix = R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} )" + programName() + "\\[" + pid + "\\] ";
  std::regex expected(prefix + R"(\{\n    ProductName = "Mac OS X";\n\}\n)" + prefix + "second %@\n");
  EXPECT_TRUE(std::regex_match(contents, expected)) << contents;
}

}  // namespace
}  // namespace strandel::platform
