// The progress buffer on its own: which outputs so far are text, and snapshots that never change.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "framework/Progress.hpp"

namespace strandel {
namespace {

std::optional<std::string> textOf(const ProgressText& progress) {
  if (!progress) return std::nullopt;
  return std::string(*progress);
}

TEST(ProgressBuffer, TextAfterEachPiece) {
  struct Case {
    const char* name;
    std::vector<std::string> pieces;
    std::vector<bool> textAfter;  // whether the output so far is text after each piece
  };
  const std::vector<Case> cases = {
      {"ascii", {"Started file system verification on disk3s1\n", "Verifying file system\n"}, {true, true}},
      {"two-byte character cut", {"Macintosh HD \xE2\x80", "\x94 Data\n"}, {false, true}},
      {"four-byte character in three reads", {"\xF0\x9F", "\x98", "\x80!"}, {false, false, true}},
      {"lead byte alone at the end", {"ok\n", "\xC3"}, {true, false}},
      {"stray continuation byte stays broken", {"a\x80", "b\n", "c\n"}, {false, false, false}},
      {"cut character completed wrongly", {"x\xE2\x80", "A\n", "more\n"}, {false, false, false}},
      {"overlong form", {"\xC0\xAF\n"}, {false}},
      {"surrogate", {"\xED\xA0\x80\n"}, {false}},
      {"above U+10FFFF", {"\xF4\x90\x80\x80\n"}, {false}},
      {"empty piece keeps the state", {"\xC3", "", "\xA9"}, {false, false, true}},
      {"long ascii run then a character", {std::string(37, 'a') + "\xC3\xA9" + std::string(9, 'b')}, {true}},
      {"bad byte after eight ascii bytes", {std::string(8, 'a') + "\xFF"}, {false}},
  };
  for (const auto& c : cases) {
    ProgressBuffer buffer;
    std::string whole;
    for (std::size_t i = 0; i < c.pieces.size(); ++i) {
      buffer.append(c.pieces[i]);
      whole += c.pieces[i];
      EXPECT_EQ(buffer.isValidUtf8(), c.textAfter[i]) << c.name << ", piece " << i;
      EXPECT_EQ(textOf(buffer.snapshot()), c.textAfter[i] ? std::optional(whole) : std::nullopt)
          << c.name << ", piece " << i;
      EXPECT_EQ(buffer.bytes(), whole) << c.name << ", piece " << i;
    }
  }
}

TEST(ProgressBuffer, EmptyOutputIsEmptyText) {
  ProgressBuffer buffer;
  EXPECT_TRUE(buffer.isValidUtf8());
  EXPECT_EQ(textOf(buffer.snapshot()), std::optional<std::string>(""));
}

TEST(ProgressBuffer, SnapshotsStayAsTheyWereWhileTheBufferGrows) {
  ProgressBuffer buffer;
  std::vector<ProgressText> snapshots;
  std::string whole;
  // Enough pieces to move through several storage blocks.
  for (int i = 0; i < 3000; ++i) {
    std::string line = "Checking snapshot " + std::to_string(i) + " of 3000 \xE2\x80\x94 ok\n";
    buffer.append(line);
    whole += line;
    snapshots.push_back(buffer.snapshot());
  }
  std::size_t previous = 0;
  for (const auto& snapshot : snapshots) {
    ASSERT_TRUE(snapshot);
    EXPECT_GT(snapshot->size(), previous);
    EXPECT_EQ(*snapshot, std::string_view(whole).substr(0, snapshot->size()));
    previous = snapshot->size();
  }
  EXPECT_EQ(previous, whole.size());
}

TEST(ProgressBuffer, SnapshotOutlivesTheBuffer) {
  ProgressText kept;
  {
    ProgressBuffer buffer;
    buffer.append("Finished file system verification on disk3s1 (Macintosh HD)\n");
    kept = buffer.snapshot();
  }
  ASSERT_TRUE(kept);
  EXPECT_EQ(*kept, "Finished file system verification on disk3s1 (Macintosh HD)\n");
}

}  // namespace
}  // namespace strandel
