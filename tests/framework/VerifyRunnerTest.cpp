// The verify runner against a disk utility of a test image that prints the bytes it is given and
// writes the arguments it received to root/usr/sbin/argv.out, each followed by a NUL; the
// progress buffer on its own; the delegate the object owns.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <strandel/StrandelFramework.hpp>

#include "framework/Progress.hpp"
#include "tests/support/ImageBuilder.hpp"
#include "tests/support/TempDir.hpp"

namespace strandel {
namespace {

using testing::ImageBuilder;
using testing::ScopedMachine;
using namespace std::string_literals;
using Texts = std::vector<std::optional<std::string>>;
using Arguments = std::optional<std::vector<std::string>>;

ImageBuilder diskUtilityPrinting(const std::string& output) {
  ImageBuilder image;
  image.tool("/usr/sbin/diskutil",
             "#!/bin/sh\n"
             "for a in \"$@\"; do printf '%s\\0' \"$a\"; done > \"${0%/*}/argv.out\"\n"
             "exec /bin/cat \"${0%/*}/diskutil.out\"\n");
  image.file("/usr/sbin/diskutil.out", output);
  return image;
}

// The arguments of the last run, or nothing when the disk utility did not run.
Arguments argumentsReceived(const ScopedMachine& machine) {
  const auto path = machine.dir() / "root/usr/sbin/argv.out";
  if (!std::filesystem::exists(path)) return std::nullopt;
  std::string all = testing::readFile(path);
  std::vector<std::string> arguments;
  for (std::size_t start = 0, nul; (nul = all.find('\0', start)) != std::string::npos; start = nul + 1)
    arguments.push_back(all.substr(start, nul - start));
  return arguments;
}

std::optional<std::string> textOf(const ProgressText& progress) {
  if (!progress) return std::nullopt;
  return std::string(*progress);
}

// Records every progress call, and whether `currentProgress` held the same text while it was made.
struct Recorder : StrandelDelegate {
  explicit Recorder(const StrandelFramework* object = nullptr) : object(object) {}
  void handleProgress(ProgressText progress) override {
    texts.push_back(textOf(progress));
    if (object) sameAsCurrent.push_back(object->currentProgress() == progress);
  }
  const StrandelFramework* object;
  Texts texts;
  std::vector<bool> sameAsCurrent;
};

std::string asString(const std::vector<std::uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

// Runs the request and gives its one reply; fails the test unless exactly one reply came.
std::string replyTo(StrandelFramework& framework, const PlistDict& request) {
  int replies = 0;
  std::string reply = "<none>";
  framework.runWith(request, [&](std::string& text) {
    ++replies;
    reply = text;
  });
  EXPECT_EQ(replies, 1);
  return reply;
}

const std::string kLine1 = "Started file system verification on disk3s1 (Macintosh HD)\n";
const std::string kLine2 = "Verifying file system\n";
const std::string kThreeLines = kLine1 + kLine2 + "Finished file system verification on disk3s1 (Macintosh HD)\n";

TEST(VerifyRunner, EachReadGivesTheOutputSoFar) {
  const std::string longLine = std::string(5000, 'x') + "\n";
  // The em dash's first byte is the 2047th byte of the line: the first read ends inside it.
  const std::string cutCharacter = std::string(2046, 'a') + "\xE2\x80\x94 Data\n";
  const std::string notUtf8 = "Volume name is T\xE9" "7\nThe volume appears to be OK\n";
  const struct {
    const char* name;
    std::string output, bytes;
    Texts texts;
    std::string reply;
  } cases[] = {
      {"three lines", kThreeLines, kThreeLines, {kLine1, kLine1 + kLine2, kThreeLines}, kThreeLines},
      {"a long line in reads of 2047, 2047 and 907 bytes", longLine, longLine,
       {longLine.substr(0, 2047), longLine.substr(0, 4094), longLine}, longLine},
      {"a character cut by a read", cutCharacter, cutCharacter, {std::nullopt, cutCharacter}, cutCharacter},
      {"bytes after a NUL in a read are lost", std::string("Checking\0 lost\n", 15) + "volume\n", "Checkingvolume\n",
       {"Checking", "Checkingvolume\n"}, "Checkingvolume\n"},
      {"bytes that are not UTF-8", notUtf8, notUtf8, {std::nullopt, std::nullopt},
       "Volume name is T\xEF\xBF\xBD" "7\nThe volume appears to be OK\n"},
      {"no output", "", "", {}, ""},
  };
  for (const auto& c : cases) {
    ScopedMachine machine(diskUtilityPrinting(c.output));
    StrandelFramework framework;
    auto before = makeProgressText("an earlier run\n");
    framework.setCurrentProgress(before);
    auto recorder = std::make_shared<Recorder>(&framework);
    framework.setDelegate(recorder);
    EXPECT_EQ(asString(framework.diskUtilityCmd("verifyVolume disk3s1")), c.bytes) << c.name;
    EXPECT_EQ(recorder->texts, c.texts) << c.name;
    EXPECT_EQ(recorder->sameAsCurrent, std::vector<bool>(c.texts.size(), true)) << c.name;
    // No output leaves the earlier text as it was.
    if (c.texts.empty()) {
      EXPECT_EQ(framework.currentProgress(), before) << c.name;
    } else {
      EXPECT_EQ(textOf(framework.currentProgress()), c.texts.back()) << c.name;
    }
    EXPECT_EQ(replyTo(framework, {{"selectedVolume", PlistValue("disk2s1")}}), c.reply) << c.name;
    EXPECT_EQ(argumentsReceived(machine), (std::vector<std::string>{"verifyVolume", "disk2s1"})) << c.name;
  }
}

TEST(VerifyRunner, RunsTheSameWithoutADelegateAndKeepsTheShellWords) {
  ScopedMachine machine(diskUtilityPrinting(kThreeLines));
  StrandelFramework framework;
  EXPECT_EQ(asString(framework.diskUtilityCmd("verifyVolume   'Backup Disk'")), kThreeLines);
  EXPECT_EQ(textOf(framework.currentProgress()), kThreeLines);
  EXPECT_EQ(argumentsReceived(machine), (std::vector<std::string>{"verifyVolume", "Backup Disk"}));
}

// Whatever a request names reaches the disk utility as one inert argument, or is refused with
// an empty reply and no run.
TEST(VerifyRunner, RequestsGiveOneInertArgumentOrNone) {
  testing::TempDir scratch;
  const std::string marker = (scratch.path() / "marker").string();
  struct Case {
    std::string name;
    PlistDict request;
    Arguments arguments;
  };
  std::vector<Case> cases = {
      {"no selectedVolume", {}, std::nullopt},
      {"another key", {{"volume", PlistValue("disk3s1")}}, std::nullopt},
      {"a boolean", {{"selectedVolume", PlistValue(true)}}, std::nullopt},
      {"a real", {{"selectedVolume", PlistValue(2.5)}}, std::nullopt},
      {"an array", {{"selectedVolume", PlistValue(PlistArray{PlistValue("disk3s1")})}}, std::nullopt},
      {"a text with a NUL", {{"selectedVolume", PlistValue("disk3s1\0; x"s)}}, std::nullopt},
      {"an integer", {{"selectedVolume", PlistValue(7)}}, std::vector<std::string>{"verifyVolume", "7"}},
  };
  for (const std::string& volume :
       {"Macintosh HD"s, "  two  blanks  "s, "it's"s, "'"s, "''"s, "\"quoted\""s, "a\\'b"s, "disk3s1; touch " + marker,
        "$(touch " + marker + ")", "`touch " + marker + "`", "${IFS}$(touch${IFS}" + marker + ")", "-n"s, "--help"s,
        "disk3s1\ntouch " + marker, "disk3s1 && touch " + marker + " #", "*"s, "~"s, ""s, "caf\xC3\xA9 \xE2\x80\x94 Data"s}) {
    cases.push_back({volume, {{"selectedVolume", PlistValue(volume)}}, std::vector<std::string>{"verifyVolume", volume}});
  }
  ScopedMachine machine(diskUtilityPrinting("done\n"));
  for (const auto& c : cases) {
    std::filesystem::remove(machine.dir() / "root/usr/sbin/argv.out");
    StrandelFramework framework;
    auto recorder = std::make_shared<Recorder>();
    framework.setDelegate(recorder);
    EXPECT_EQ(replyTo(framework, c.request), c.arguments ? "done\n" : "") << c.name;
    EXPECT_EQ(argumentsReceived(machine), c.arguments) << c.name;
    EXPECT_EQ(recorder->texts.empty(), !c.arguments) << c.name;
    EXPECT_FALSE(std::filesystem::exists(marker)) << c.name;
  }
}

// ThreadSanitizer once found a race here: the delegate replaced while the runner read it.
TEST(VerifyRunner, PropertiesReadAndReplacedOnAnotherThreadDuringAVerify) {
  std::string output;
  for (int i = 0; i < 4000; ++i) output += "Checking snapshot " + std::to_string(i) + "\n";
  ScopedMachine machine(diskUtilityPrinting(output));
  StrandelFramework framework;
  std::atomic<bool> done{false};
  std::atomic<int> bad{0};
  // Meanwhile the delegate is replaced again and again: the runner tells whichever one it
  // read, and the one it tells stays alive for the call.
  std::thread reader([&] {
    for (int turn = 0; !done.load(); ++turn) {
      if (auto text = framework.currentProgress()) {
        if (std::string_view(output).substr(0, text->size()) != *text) ++bad;
      }
      framework.setDelegate(turn % 2 ? std::make_shared<Recorder>() : nullptr);
    }
  });
  framework.diskUtilityCmd("verifyVolume disk3s1");
  done = true;
  reader.join();
  EXPECT_EQ(bad.load(), 0);
  EXPECT_EQ(textOf(framework.currentProgress()), output);
}

TEST(FrameworkObject, OwnsItsDelegateUntilReplacedOrDestroyed) {
  std::weak_ptr<StrandelDelegate> first, second;
  {
    StrandelFramework framework;
    EXPECT_EQ(framework.delegate(), nullptr);
    framework.setDelegate(std::make_shared<Recorder>());
    first = framework.delegate();
    // The host holds no reference; the object keeps the delegate alive.
    ASSERT_FALSE(first.expired());
    auto replacement = std::make_shared<Recorder>();
    second = replacement;
    framework.setDelegate(std::move(replacement));
    EXPECT_TRUE(first.expired());
    EXPECT_FALSE(second.expired());
  }
  EXPECT_TRUE(second.expired());
}

TEST(ProgressBuffer, TextAfterEachPiece) {
  struct Case {
    const char* name;
    std::vector<std::string> pieces;
    std::vector<bool> textAfter;  // whether the output so far is text after each piece
  };
  const std::vector<Case> cases = {
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
    // No output yet is the empty text.
    EXPECT_EQ(textOf(buffer.snapshot()), std::optional<std::string>("")) << c.name;
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

TEST(ProgressBuffer, SnapshotsStayAsTheyWereWhileTheBufferGrowsAndAfterItGoes) {
  std::vector<ProgressText> snapshots;
  std::string whole;
  {
    ProgressBuffer buffer;
    // Enough pieces to move through several storage blocks.
    for (int i = 0; i < 3000; ++i) {
      std::string line = "Checking snapshot " + std::to_string(i) + " of 3000 \xE2\x80\x94 ok\n";
      buffer.append(line);
      whole += line;
      snapshots.push_back(buffer.snapshot());
    }
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

}  // namespace
}  // namespace strandel
