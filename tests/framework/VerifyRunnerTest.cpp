// The verify runner against a disk utility of a test image that prints the bytes it is given and
// writes the arguments it received to root/usr/sbin/argv.out, each followed by a NUL.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <strandel/Machine.hpp>
#include <strandel/StrandelFramework.hpp>

#include "platform/Machine.hpp"
#include "tests/support/ImageBuilder.hpp"
#include "tests/support/Paths.hpp"
#include "tests/support/TempDir.hpp"

namespace strandel {
namespace {

using testing::ImageBuilder;
using testing::ScopedMachine;

ImageBuilder diskUtilityPrinting(const std::string& output) {
  ImageBuilder image;
  image.tool("/usr/sbin/diskutil",
             "#!/bin/sh\n"
             "for a in \"$@\"; do printf '%s\\0' \"$a\"; done > \"${0%/*}/argv.out\"\n"
             "exec /bin/cat \"${0%/*}/diskutil.out\"\n");
  image.file("/usr/sbin/diskutil.out", output);
  return image;
}

std::optional<std::vector<std::string>> argumentsReceived(const ScopedMachine& machine) {
  std::ifstream in(machine.dir() / "root/usr/sbin/argv.out", std::ios::binary);
  if (!in) return std::nullopt;
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::string> arguments;
  std::size_t start = 0;
  for (std::size_t nul; (nul = all.find('\0', start)) != std::string::npos; start = nul + 1)
    arguments.push_back(all.substr(start, nul - start));
  return arguments;
}

std::optional<std::string> textOf(const ProgressText& progress) {
  if (!progress) return std::nullopt;
  return std::string(*progress);
}

// Records every progress call and what `currentProgress` held while it was made.
class Recorder : public StrandelDelegate {
 public:
  explicit Recorder(const StrandelFramework* object = nullptr) : object_(object) {}
  void handleProgress(ProgressText progress) override {
    texts.push_back(textOf(progress));
    if (object_) sameAsCurrent.push_back(object_->currentProgress() == progress);
  }
  std::vector<std::optional<std::string>> texts;
  std::vector<bool> sameAsCurrent;

 private:
  const StrandelFramework* object_;
};

std::string asString(const std::vector<std::uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

const std::string kVerifyOutput =
    "Started file system verification on disk3s1 (Macintosh HD)\n"
    "Verifying file system\n"
    "Finished file system verification on disk3s1 (Macintosh HD)\n";

TEST(VerifyRunner, ThreeLinesGiveThreeGrowingTexts) {
  ScopedMachine machine(diskUtilityPrinting(kVerifyOutput));
  StrandelFramework framework;
  auto recorder = std::make_shared<Recorder>();
  framework.setDelegate(recorder);
  auto bytes = framework.diskUtilityCmd("verifyVolume disk3s1");
  EXPECT_EQ(asString(bytes), kVerifyOutput);
  ASSERT_EQ(recorder->texts.size(), 3u);
  EXPECT_EQ(recorder->texts[0], "Started file system verification on disk3s1 (Macintosh HD)\n");
  EXPECT_EQ(recorder->texts[1],
            "Started file system verification on disk3s1 (Macintosh HD)\nVerifying file system\n");
  EXPECT_EQ(recorder->texts[2], kVerifyOutput);
  EXPECT_EQ(textOf(framework.currentProgress()), kVerifyOutput);
}

TEST(VerifyRunner, LongLineArrivesInPiecesOf2047Bytes) {
  std::string line = std::string(5000, 'x') + "\n";
  ScopedMachine machine(diskUtilityPrinting(line));
  StrandelFramework framework;
  auto recorder = std::make_shared<Recorder>();
  framework.setDelegate(recorder);
  EXPECT_EQ(asString(framework.diskUtilityCmd("verifyVolume disk3s1")), line);
  ASSERT_EQ(recorder->texts.size(), 3u);
  EXPECT_EQ(recorder->texts[0], line.substr(0, 2047));
  EXPECT_EQ(recorder->texts[1], line.substr(0, 4094));
  EXPECT_EQ(recorder->texts[2], line);  // 907 bytes more
}

TEST(VerifyRunner, CharacterCutByAReadGivesNoTextOnceThenTheWholeText) {
  // The em dash's first byte is the 2047th byte of the line: the first read ends inside it.
  std::string line = std::string(2046, 'a') + "\xE2\x80\x94 Data\n";
  ScopedMachine machine(diskUtilityPrinting(line));
  StrandelFramework framework;
  auto recorder = std::make_shared<Recorder>();
  framework.setDelegate(recorder);
  framework.diskUtilityCmd("verifyVolume disk3s1");
  ASSERT_EQ(recorder->texts.size(), 2u);
  EXPECT_EQ(recorder->texts[0], std::nullopt);
  EXPECT_EQ(recorder->texts[1], line);
}

TEST(VerifyRunner, NoOutputLeavesEverythingAsItWas) {
  ScopedMachine machine(diskUtilityPrinting(""));
  StrandelFramework framework;
  auto before = makeProgressText("an earlier run\n");
  framework.setCurrentProgress(before);
  auto recorder = std::make_shared<Recorder>();
  framework.setDelegate(recorder);
  EXPECT_TRUE(framework.diskUtilityCmd("verifyVolume disk3s1").empty());
  std::optional<std::string> reply;
  framework.runWith({{"selectedVolume", PlistValue("disk3s1")}}, [&](std::string& text) { reply = text; });
  EXPECT_EQ(reply, "");
  EXPECT_TRUE(recorder->texts.empty());
  EXPECT_EQ(framework.currentProgress(), before);
}

TEST(VerifyRunner, RunsTheSameWithoutADelegate) {
  ScopedMachine machine(diskUtilityPrinting(kVerifyOutput));
  StrandelFramework framework;
  EXPECT_EQ(asString(framework.diskUtilityCmd("verifyVolume disk3s1")), kVerifyOutput);
  EXPECT_EQ(textOf(framework.currentProgress()), kVerifyOutput);
}

TEST(VerifyRunner, DelegateFindsItsTextInCurrentProgress) {
  ScopedMachine machine(diskUtilityPrinting(kVerifyOutput));
  StrandelFramework framework;
  auto recorder = std::make_shared<Recorder>(&framework);
  framework.setDelegate(recorder);
  framework.diskUtilityCmd("verifyVolume disk3s1");
  EXPECT_EQ(recorder->sameAsCurrent, std::vector<bool>(3, true));
}

TEST(VerifyRunner, BytesAfterANulInARead) {
  ScopedMachine machine(diskUtilityPrinting(std::string("Checking\0 lost\n", 15) + "volume\n"));
  StrandelFramework framework;
  auto recorder = std::make_shared<Recorder>();
  framework.setDelegate(recorder);
  EXPECT_EQ(asString(framework.diskUtilityCmd("verifyVolume disk3s1")), "Checkingvolume\n");
  EXPECT_EQ(recorder->texts, (std::vector<std::optional<std::string>>{"Checking", "Checkingvolume\n"}));
}

TEST(VerifyRunner, ArgumentTextKeepsItsShellWords) {
  ScopedMachine machine(diskUtilityPrinting(""));
  StrandelFramework framework;
  framework.diskUtilityCmd("verifyVolume   'Backup Disk'");
  EXPECT_EQ(argumentsReceived(machine), (std::vector<std::string>{"verifyVolume", "Backup Disk"}));
}

TEST(VerifyRunner, RequestRunsVerifyVolumeAndRepliesWithTheLastText) {
  ScopedMachine machine(diskUtilityPrinting(kVerifyOutput));
  StrandelFramework framework;
  auto recorder = std::make_shared<Recorder>();
  framework.setDelegate(recorder);
  int replies = 0;
  std::string reply;
  framework.runWith({{"selectedVolume", PlistValue("disk2s1")}}, [&](std::string& text) {
    ++replies;
    reply = text;
  });
  EXPECT_EQ(replies, 1);
  EXPECT_EQ(argumentsReceived(machine), (std::vector<std::string>{"verifyVolume", "disk2s1"}));
  ASSERT_FALSE(recorder->texts.empty());
  EXPECT_EQ(recorder->texts.back(), reply);
  EXPECT_EQ(reply, kVerifyOutput);
}

TEST(VerifyRunner, VolumeTextStaysOneInertArgument) {
  testing::TempDir scratch;
  const std::string marker = (scratch.path() / "marker").string();
  const std::vector<std::string> volumes = {
      "Macintosh HD",
      "  two  blanks  ",
      "it's",
      "'",
      "''",
      "\"quoted\"",
      "a\\'b",
      "disk3s1; touch " + marker,
      "$(touch " + marker + ")",
      "`touch " + marker + "`",
      "${IFS}$(touch${IFS}" + marker + ")",
      "-n",
      "--help",
      "disk3s1\ntouch " + marker,
      "disk3s1 && touch " + marker + " #",
      "*",
      "~",
      "",
      "caf\xC3\xA9 \xE2\x80\x94 Data",
  };
  ScopedMachine machine(diskUtilityPrinting("done\n"));
  for (const auto& volume : volumes) {
    std::filesystem::remove(machine.dir() / "root/usr/sbin/argv.out");
    StrandelFramework framework;
    std::string reply;
    framework.runWith({{"selectedVolume", PlistValue(volume)}}, [&](std::string& text) { reply = text; });
    EXPECT_EQ(argumentsReceived(machine), (std::vector<std::string>{"verifyVolume", volume})) << volume;
    EXPECT_EQ(reply, "done\n") << volume;
    EXPECT_FALSE(std::filesystem::exists(marker)) << volume;
  }
}

TEST(VerifyRunner, RequestsThatNameNoVolumeAreRefused) {
  const std::vector<std::pair<const char*, PlistDict>> refused = {
      {"no selectedVolume", {}},
      {"another key", {{"volume", PlistValue("disk3s1")}}},
      {"a boolean", {{"selectedVolume", PlistValue(true)}}},
      {"a real", {{"selectedVolume", PlistValue(2.5)}}},
      {"an array", {{"selectedVolume", PlistValue(PlistArray{PlistValue("disk3s1")})}}},
      {"a text with a NUL", {{"selectedVolume", PlistValue(std::string("disk3s1\0; x", 11))}}},
  };
  ScopedMachine machine(diskUtilityPrinting(kVerifyOutput));
  for (const auto& [name, request] : refused) {
    StrandelFramework framework;
    auto recorder = std::make_shared<Recorder>();
    framework.setDelegate(recorder);
    int replies = 0;
    std::string reply = "unset";
    framework.runWith(request, [&](std::string& text) {
      ++replies;
      reply = text;
    });
    EXPECT_EQ(replies, 1) << name;
    EXPECT_EQ(reply, "") << name;
    EXPECT_TRUE(recorder->texts.empty()) << name;
    EXPECT_EQ(argumentsReceived(machine), std::nullopt) << name;
  }
}

TEST(VerifyRunner, IntegerVolumeIsItsDecimalText) {
  ScopedMachine machine(diskUtilityPrinting(""));
  StrandelFramework framework;
  framework.runWith({{"selectedVolume", PlistValue(7)}}, [](std::string&) {});
  EXPECT_EQ(argumentsReceived(machine), (std::vector<std::string>{"verifyVolume", "7"}));
}

TEST(VerifyRunner, ReplyMarksBytesThatAreNotUtf8) {
  ScopedMachine machine(diskUtilityPrinting("Volume name is T\xE9" "7\nThe volume appears to be OK\n"));
  StrandelFramework framework;
  auto recorder = std::make_shared<Recorder>();
  framework.setDelegate(recorder);
  std::string reply;
  framework.runWith({{"selectedVolume", PlistValue("disk4s2")}}, [&](std::string& text) { reply = text; });
  EXPECT_EQ(recorder->texts, (std::vector<std::optional<std::string>>{std::nullopt, std::nullopt}));
  EXPECT_EQ(framework.currentProgress(), nullptr);
  EXPECT_EQ(reply, "Volume name is T\xEF\xBF\xBD" "7\nThe volume appears to be OK\n");
}

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

TEST(VerifyRunner, SampleImageVerifiesAVolume) {
  auto previous = platform::current();
  auto error = useMachine(testing::sampleMachine("network-backup"));
  ASSERT_FALSE(error) << *error;
  StrandelFramework framework;
  auto recorder = std::make_shared<Recorder>();
  framework.setDelegate(recorder);
  std::string reply;
  framework.runWith({{"selectedVolume", PlistValue("disk0s1")}}, [&](std::string& text) { reply = text; });
  EXPECT_TRUE(reply.starts_with("Started file system verification on disk0s1 (EFI)\n")) << reply;
  EXPECT_TRUE(reply.ends_with("Finished file system verification on disk0s1 (EFI)\n")) << reply;
  ASSERT_FALSE(recorder->texts.empty());
  EXPECT_EQ(recorder->texts.back(), reply);
  platform::setCurrent(previous);
}

}  // namespace
}  // namespace strandel
