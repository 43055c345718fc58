// The verify runner against a disk utility of a test image that prints the bytes it is given and
// writes the arguments it received to root/tmp/argv.out, each followed by a NUL; the
// delegate the object owns.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <strandel/StrandelFramework.hpp>

#include "framework/Progress.hpp"
#include "framework/VerifyRunner.hpp"
#include "tests/support/ImageBuilder.hpp"
#include "tests/support/TempDir.hpp"

using namespace strandel::framework;

namespace strandel {
namespace {

using testing::ImageBuilder;
using testing::ScopedMachine;
using namespace std::string_literals;
using Texts = std::vector<std::optional<std::string>>;

ImageBuilder diskUtilityPrinting(const std::string& output) {
  ImageBuilder image;
  image.tool("/usr/sbin/diskutil",
             "#!/bin/sh\n"
             "for a in \"$@\"; do printf '%s\\0' \"$a\"; done > \"${0%/*}/../../tmp/argv.out\"\n"
             "exec /bin/cat \"${0%/*}/diskutil.out\"\n");
  image.file("/usr/sbin/diskutil.out", output);
  return image;
}

// The arguments of the last run, each followed by a NUL; "" when the disk utility did not run.
std::string argumentsReceived(const ScopedMachine& machine) {
  return testing::readFile(machine.dir() / "root/tmp/argv.out");
}

// The arguments of a verify of `volume`, as `argumentsReceived` gives them.
std::string verifyArguments(const std::string& volume) { return "verifyVolume\0"s + volume + '\0'; }

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
  const std::string completedWrongly = std::string(2046, 'a') +
                                       "\xE2\x80"
                                       "A\n";
  const std::string notUtf8 =
      "Volume name is T\xE9"
      "7\nThe volume appears to be OK\n";
  const struct {
    const char* name;
    std::string output, bytes;
    Texts texts;
    std::string reply;
  } cases[] = {
      {"three lines", kThreeLines, kThreeLines, {kLine1, kLine1 + kLine2, kThreeLines}, kThreeLines},
      {"a long line in reads of 2047, 2047 and 907 bytes",
       longLine,
       longLine,
       {longLine.substr(0, 2047), longLine.substr(0, 4094), longLine},
       longLine},
      {"a character cut by a read", cutCharacter, cutCharacter, {std::nullopt, cutCharacter}, cutCharacter},
      {"a cut character that the next read completes wrongly",
       completedWrongly,
       completedWrongly,
       {std::nullopt, std::nullopt},
       std::string(2046, 'a') + "\xEF\xBF\xBD\xEF\xBF\xBD"
                                "A\n"},
      {"bytes after a NUL in a read are lost",
       std::string("Checking\0 lost\n", 15) + "volume\n",
       "Checkingvolume\n",
       {"Checking", "Checkingvolume\n"},
       "Checkingvolume\n"},
      {"bytes that are not UTF-8",
       notUtf8,
       notUtf8,
       {std::nullopt, std::nullopt},
       "Volume name is T\xEF\xBF\xBD"
       "7\nThe volume appears to be OK\n"},
      {"no output", "", "", {}, ""},
  };
  for (const auto& c : cases) {
    ScopedMachine machine(diskUtilityPrinting(c.output));
    StrandelFramework framework;
    auto before = makeProgressText("an earlier run\n");
    framework.setCurrentProgress(before);
    auto recorder = std::make_shared<Recorder>(&framework);
    framework.setDelegate(recorder);
    // The command line is split into shell words, quotes and runs of blanks included.
    EXPECT_EQ(asString(framework.diskUtilityCmd("verifyVolume   'Backup Disk'")), c.bytes) << c.name;
    EXPECT_EQ(argumentsReceived(machine), verifyArguments("Backup Disk")) << c.name;
    EXPECT_EQ(recorder->texts, c.texts) << c.name;
    EXPECT_EQ(recorder->sameAsCurrent, std::vector<bool>(c.texts.size(), true)) << c.name;
    // No output leaves the earlier text as it was.
    if (c.texts.empty()) {
      EXPECT_EQ(framework.currentProgress(), before) << c.name;
    } else {
      EXPECT_EQ(textOf(framework.currentProgress()), c.texts.back()) << c.name;
    }
    EXPECT_EQ(replyTo(framework, {{"selectedVolume", PlistValue("disk2s1")}}), c.reply) << c.name;
    EXPECT_EQ(argumentsReceived(machine), verifyArguments("disk2s1")) << c.name;
  }
}

// The library's reply is the output whatever the disk utility's end; the tool's entry also
// tells that end, as the shell gives it.
TEST(VerifyRunner, TellsHowTheDiskUtilityEndedBesideTheSameReply) {
  struct Case {
    std::string script, reply;
    int status;
  };
  const Case cases[] = {
      {"echo checked", "checked\n", 0},
      {"echo 'errors found'; exit 5", "errors found\n", 5},
      {"echo killed; kill -9 $$", "killed\n", 137},
  };
  for (const Case& c : cases) {
    ImageBuilder image;
    image.tool("/usr/sbin/diskutil", "#!/bin/sh\n" + c.script + "\n");
    ScopedMachine machine(image);
    StrandelFramework framework;
    const PlistDict request{{"selectedVolume", PlistValue("disk2s1")}};
    std::string reply, libraryReply;
    EXPECT_EQ(verifyVolume(framework, request, [&](std::string& text) { reply = text; }), c.status) << c.script;
    framework.runWith(request, [&](std::string& text) { libraryReply = text; });
    EXPECT_EQ(reply, c.reply) << c.script;
    EXPECT_EQ(libraryReply, c.reply) << c.script;
  }
  // A request that names nothing runs nothing, and there is no end to tell.
  StrandelFramework framework;
  EXPECT_EQ(verifyVolume(framework, {}, nullptr), kNoExitStatus);
}

// Whatever a request names reaches the disk utility as one inert argument, or is refused with
// an empty reply and no run.
TEST(VerifyRunner, RequestsGiveOneInertArgumentOrNone) {
  testing::TempDir scratch;
  const std::string marker = (scratch.path() / "marker").string();
  struct Case {
    std::string name;
    PlistDict request;
    std::optional<std::string> volume;  // the volume the disk utility is given; none: no run
  };
  std::vector<Case> cases = {
      {"another key", {{"volume", PlistValue("disk3s1")}}, std::nullopt},
      {"a boolean", {{"selectedVolume", PlistValue(true)}}, "1"},
      {"a real", {{"selectedVolume", PlistValue(0.5)}}, "0.5"},
      {"data", {{"selectedVolume", PlistValue(PlistData{{'d'}})}}, std::nullopt},
      {"a text with a NUL", {{"selectedVolume", PlistValue("disk3s1\0; x"s)}}, std::nullopt},
      {"an integer", {{"selectedVolume", PlistValue(7)}}, "7"},
  };
  for (const std::string& volume :
       {"  two  blanks  "s, "it's"s, "''"s, "\"quoted\""s, "a\\'b"s, "disk3s1; touch " + marker,
        "$(touch " + marker + ")", "`touch " + marker + "`", "${IFS}$(touch${IFS}" + marker + ")", "-n"s,
        "disk3s1\ntouch " + marker, "*"s, "~"s, ""s, "caf\xC3\xA9 \xE2\x80\x94 Data"s}) {
    cases.push_back({volume, {{"selectedVolume", PlistValue(volume)}}, volume});
  }
  ScopedMachine machine(diskUtilityPrinting("done\n"));
  for (const auto& c : cases) {
    std::filesystem::remove(machine.dir() / "root/tmp/argv.out");
    StrandelFramework framework;
    auto recorder = std::make_shared<Recorder>();
    framework.setDelegate(recorder);
    EXPECT_EQ(replyTo(framework, c.request), c.volume ? "done\n" : "") << c.name;
    EXPECT_EQ(argumentsReceived(machine), c.volume ? verifyArguments(*c.volume) : "") << c.name;
    EXPECT_EQ(recorder->texts.empty(), !c.volume) << c.name;
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

// A verify that prints past the cap is no answer; what the host was shown before stays.
TEST(ProgressBuffer, OutputPastItsCapIsRefusedFromThereOn) {
  StrandelFramework framework;
  ProgressBuffer output(8);
  EXPECT_EQ(textOf(reportPiece(framework, output, "12345")), "12345");
  EXPECT_EQ(reportPiece(framework, output, "6789"), nullptr);
  EXPECT_FALSE(output.append("6"));
  EXPECT_TRUE(output.exhausted());
  EXPECT_EQ(output.bytes(), "12345");
  EXPECT_EQ(textOf(framework.currentProgress()), "12345");
}

}  // namespace
}  // namespace strandel
