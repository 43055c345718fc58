#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>

#include "platform/live/LiveMachine.hpp"
#include "tests/support/TempDir.hpp"

namespace strandel::platform {
namespace {

// Every piece the stream gives with a buffer of `capacity` bytes, each as the bytes stored.
std::vector<std::string> pieces(ShellStream& stream, std::size_t capacity) {
  std::vector<std::string> out;
  std::vector<char> buffer(capacity, 'X');
  while (auto n = stream.readPiece(buffer.data(), capacity)) {
    EXPECT_LT(*n, capacity);
    EXPECT_EQ(buffer[*n], '\0') << "every piece ends with a NUL, as with fgets";
    out.emplace_back(buffer.data(), *n);
  }
  return out;
}

std::vector<std::string> piecesOf(const std::string& commandLine, std::size_t capacity = 2048) {
  auto stream = live::makeHostProcesses()->openShell(commandLine);
  EXPECT_TRUE(stream);
  if (!stream) return {};
  return pieces(*stream, capacity);
}

std::vector<std::size_t> sizes(const std::vector<std::string>& all) {
  std::vector<std::size_t> out;
  for (const auto& piece : all) out.push_back(piece.size());
  return out;
}

bool noChildLeft() { return ::waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD; }

TEST(LiveShellStream, PiecesAreShapedAsFgetsGivesThem) {
  using Pieces = std::vector<std::string>;
  EXPECT_EQ(piecesOf("printf 'one\\ntwo\\nthree\\n'"), (Pieces{"one\n", "two\n", "three\n"}));
  EXPECT_EQ(piecesOf("printf 'a\\n\\nb'"), (Pieces{"a\n", "\n", "b"}));
  EXPECT_EQ(piecesOf("true"), Pieces{});
  EXPECT_EQ(piecesOf("printf 'abcdefg\\nhi\\n'", 4), (Pieces{"abc", "def", "g\n", "hi\n"}));
  // A NUL in the output is stored like any byte; the count tells where the piece ends.
  EXPECT_EQ(piecesOf("printf 'a\\000b\\n'"), (Pieces{std::string("a\0b\n", 4)}));
  // Lines that arrive in separate writes still come out line by line.
  EXPECT_EQ(piecesOf("printf 'par'; /bin/sleep 0.1; printf 'tial\\nnext\\n'"), (Pieces{"partial\n", "next\n"}));
}

TEST(LiveShellStream, LongLineArrivesInBufferSizedPieces) {
  auto all = piecesOf("printf '%5000s\\n' ''");
  EXPECT_EQ(sizes(all), (std::vector<std::size_t>{2047, 2047, 907}));
  // Output far beyond the read-ahead buffer keeps its order and every byte.
  auto many = piecesOf("/usr/bin/seq 1 100000");
  ASSERT_EQ(many.size(), 100000u);
  EXPECT_EQ(many.front(), "1\n");
  EXPECT_EQ(many[49999], "50000\n");
  EXPECT_EQ(many.back(), "100000\n");
}

TEST(LiveShellStream, CapacityOneGivesEmptyPiecesAndZeroGivesNothing) {
  auto stream = live::makeHostProcesses()->openShell("echo x");
  ASSERT_TRUE(stream);
  char buffer[2] = {'X', 'X'};
  EXPECT_EQ(stream->readPiece(buffer, 0), std::nullopt);
  EXPECT_EQ(stream->readPiece(buffer, 1), 0u);
  EXPECT_EQ(buffer[0], '\0');
  EXPECT_EQ(stream->readPiece(buffer, 2), 1u);
  EXPECT_EQ(buffer[0], 'x');
}

TEST(LiveShellStream, RunsThroughTheShellWithTheHostEnvironment) {
  ::setenv("STRANDEL_PROBE", "from the host", 1);
  auto all = piecesOf("echo \"$STRANDEL_PROBE\" | tr a-z A-Z; echo two words");
  ::unsetenv("STRANDEL_PROBE");
  EXPECT_EQ(all, (std::vector<std::string>{"FROM THE HOST\n", "two words\n"}));
  // A command line starting with a dash is a command, not an option of the shell.
  EXPECT_EQ(piecesOf("-x 2>/dev/null; echo after"), (std::vector<std::string>{"after\n"}));
}

TEST(LiveShellStream, CloseWaitsForTheShellAndDestroyingCloses) {
  testing::TempDir dir;
  auto marker = dir.path() / "done";
  auto processes = live::makeHostProcesses();
  auto stream = processes->openShell("echo first; /bin/sleep 0.2; : > '" + marker.string() + "'");
  ASSERT_TRUE(stream);
  char buffer[2048];
  EXPECT_EQ(stream->readPiece(buffer, sizeof buffer), 6u);
  stream->readPiece(buffer, sizeof buffer);
  stream->close();
  EXPECT_TRUE(std::filesystem::exists(marker));
  EXPECT_TRUE(noChildLeft());
  stream->close();  // a second close does nothing
  EXPECT_EQ(stream->readPiece(buffer, sizeof buffer), std::nullopt);

  // Dropped unread, in the middle of a long output: the shell is ended and reaped.
  auto endless = processes->openShell("/usr/bin/yes");
  ASSERT_TRUE(endless);
  EXPECT_EQ(endless->readPiece(buffer, sizeof buffer), 2u);
  endless.reset();
  EXPECT_TRUE(noChildLeft());
}

}  // namespace
}  // namespace strandel::platform
