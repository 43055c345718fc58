#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <strandel/Strandel.hpp>

#include "platform/Machine.hpp"
#include "tests/support/TempDir.hpp"
#include "tests/support/ToolRun.hpp"
#include "tests/system/VersionTool.hpp"

namespace strandel::testing {
namespace {

const char* const kReport = "ProductName:\tMac OS X\nProductVersion:\t10.14.6\nBuildVersion:\t18G95\n";

ImageBuilder versionImage(const std::string& productVersion = "10.14.6\n", const std::string& report = kReport) {
  ImageBuilder image;
  addVersionTool(image, productVersion, report);
  return image;
}

std::optional<PlistValue> stored(std::string_view key) { return platform::current()->settings().get(key); }

TEST(ZVGetCurrentSystemString, TheFirstLineOfTheToolStoredForGood) {
  ScopedMachine machine(versionImage());
  // A stored value of another kind is no answer: it is replaced.
  ASSERT_TRUE(platform::current()->settings().set("ZVCurrentSWVers", PlistValue(std::int64_t{10})));
  EXPECT_EQ(ZVGetCurrentSystemString(), "10.14.6");
  EXPECT_EQ(ZVGetCurrentSystemString(), "10.14.6");
  EXPECT_EQ(ZVCompareCurrentSystemVersionWith("10.13"), 1);
  EXPECT_EQ(toolRuns(machine.dir()), 1);
  EXPECT_EQ(stored("ZVCurrentSWVers"), PlistValue("10.14.6"));
  EXPECT_EQ(stored("ZVCurrentSWVersDict"), std::nullopt);
}

TEST(ZVGetCurrentSystemString, EmptyOutputIsAnAnswerToo) {
  ScopedMachine machine(versionImage("", ""));
  EXPECT_EQ(ZVGetCurrentSystemString(), "");
  EXPECT_EQ(ZVGetCurrentSystemString(), "");
  EXPECT_EQ(ZVCompareCurrentSystemVersionWith("10.14"), -1);
  EXPECT_EQ(ZVGetCurrentSystemDictionary(), PlistDict{});
  EXPECT_EQ(ZVGetCurrentSystemDictionary(), PlistDict{});
  EXPECT_EQ(stored("ZVCurrentSWVersDict"), PlistValue(PlistDict{}));
  EXPECT_EQ(toolRuns(machine.dir()), 2);
}

TEST(ZVGetCurrentSystemString, AToolThatCannotStartLeavesNothingBehind) {
  ScopedMachine machine(ImageBuilder{});
  EXPECT_EQ(ZVGetCurrentSystemString(), std::nullopt);
  EXPECT_EQ(ZVCompareCurrentSystemVersionWith("10.12"), 0);
  EXPECT_EQ(stored("ZVCurrentSWVers"), std::nullopt);
  EXPECT_EQ(ZVGetCurrentSystemDictionary(), PlistDict{});
  EXPECT_EQ(stored("ZVCurrentSWVersDict"), std::nullopt);

  // Once a tool is there, the next call asks it.
  versionImage("10.13.6\n").write(machine.dir());
  EXPECT_EQ(ZVGetCurrentSystemString(), "10.13.6");
  EXPECT_EQ(ZVGetCurrentSystemDictionary().size(), 3u);
}

// The answers are kept in the settings file for later launches: a later process starts no tool,
// and a stored text is the answer whatever the tool would say now.
TEST(ZVGetCurrentSystemString, ALaterProcessStartsNoTool) {
  TempDir settings, image;
  versionImage("10.12.6\n").write(image.path());
  ::setenv("STRANDEL_SETTINGS", (settings.path() / "settings.plist").c_str(), 1);
  auto out = [&](std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {"--machine", image.str(), "--format", "json"});
    return runStrandel(arguments).out;
  };
  EXPECT_EQ(out({"os", "version"}), "\"10.12.6\"\n");
  EXPECT_EQ(out({"os", "info"}), "{\"BuildVersion\":\"18G95\",\"ProductName\":\"Mac OS X\",\"ProductVersion\":\"10.14.6\"}\n");
  versionImage("10.15.7\n", "ProductVersion:\t10.15.7\n").write(image.path());
  EXPECT_EQ(out({"os", "version"}), "\"10.12.6\"\n");
  EXPECT_EQ(out({"os", "info"}), "{\"BuildVersion\":\"18G95\",\"ProductName\":\"Mac OS X\",\"ProductVersion\":\"10.14.6\"}\n");
  EXPECT_EQ(out({"os", "compare", "10.13"}), "-1\n");
  ::unsetenv("STRANDEL_SETTINGS");
  EXPECT_EQ(toolRuns(image.path()), 2);
}

TEST(ZVCompareCurrentSystemVersionWith, WorkedCasesAgainstAStoredVersion) {
  // The running version, the argument (absent: std::nullopt) and the answer.
  const std::vector<std::tuple<std::string, std::optional<std::string>, std::int64_t>> cases = {
      {"10.14.6", "10.14", 1},        {"10.14.6", "10.15", -1},      {"10.14.6", "10.14.6", 0},
      {"10.14.6", "10.9", 1},         {"10.9", "10.14", -1},         {"10.14", "10.14.0", -1},
      {"10.14.6", "", 0},             {"10.14.6", std::nullopt, 0},  {"10.14.6", "macOS 10.14", 1},
      {"10.14", "Version 10.14", 0},  {"10.14.6", "letters", 1},     {"10.14", "10.14\n", -1},
      {"10.14", "\xc3\xa9t\xc3\xa9\xc2\xa0" "10.14\xe3\x80\x80", 0}, {"", "10.6", -1},
      {"", "beta", 0},                {"", std::nullopt, 0},         {"26.3.1", "10.14", 1},
      {"11.0", "10.16", 1},           {"10.12.6", "10.13", -1},      {"10.13", "10.13", 0},
      {"", " ", 0},                   {"", "macOS 10", -1},
  };
  for (const auto& [running, argument, result] : cases) {
    ScopedMachine machine(ImageBuilder{});
    ASSERT_TRUE(platform::current()->settings().set("ZVCurrentSWVers", PlistValue(running)));
    EXPECT_EQ(ZVCompareCurrentSystemVersionWith(argument), result)
        << '"' << running << "\" vs \"" << argument.value_or("<absent>") << '"';
  }
}

// Threads that find the cache empty at once each run the tool and store; every one of them
// answers the version and the store ends holding it.
TEST(ZVGetCurrentSystemString, CacheFilledByManyThreadsAtOnce) {
  ScopedMachine machine(versionImage());
  std::vector<std::optional<std::string>> answers(8);
  std::vector<PlistDict> reports(answers.size());
  {
    std::vector<std::jthread> threads;
    for (std::size_t i = 0; i < answers.size(); ++i) {
      threads.emplace_back([&, i] {
        answers[i] = ZVGetCurrentSystemString();
        reports[i] = ZVGetCurrentSystemDictionary();
      });
    }
  }
  for (std::size_t i = 0; i < answers.size(); ++i) {
    EXPECT_EQ(answers[i], "10.14.6") << i;
    EXPECT_EQ(reports[i]["BuildVersion"], PlistValue("18G95")) << i;
  }
  EXPECT_EQ(stored("ZVCurrentSWVers"), PlistValue("10.14.6"));
  EXPECT_GE(toolRuns(machine.dir()), 2);
}

TEST(ZVGetCurrentSystemDictionary, BuiltOnceLoggedOnceAndStored) {
  ScopedMachine machine(versionImage("10.14.6\n", std::string(kReport) + "no colon\nExtra: a : b\n"));
  const PlistDict expected{{"ProductName", PlistValue("Mac OS X")}, {"ProductVersion", PlistValue("10.14.6")},
                           {"BuildVersion", PlistValue("18G95")}, {"Extra", PlistValue("a")}};
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(ZVGetCurrentSystemDictionary(), expected);
  EXPECT_EQ(ZVGetCurrentSystemDictionary(), expected);
  std::string log = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(log.find("{ BuildVersion = 18G95; Extra = a; ProductName = \"Mac OS X\"; ProductVersion = \"10.14.6\"; }"),
            std::string::npos) << log;
  EXPECT_EQ(log.find('\n'), log.size() - 1) << "one log line: " << log;
  EXPECT_EQ(toolRuns(machine.dir()), 1);
  EXPECT_EQ(stored("ZVCurrentSWVersDict"), PlistValue(expected));
  // Its own cache only: the version text still asks the tool.
  EXPECT_EQ(stored("ZVCurrentSWVers"), std::nullopt);
  EXPECT_EQ(ZVGetCurrentSystemString(), "10.14.6");
  EXPECT_EQ(toolRuns(machine.dir()), 2);
}

// The copy of a nested value shares nothing with the original.
TEST(ZVDeepMutableCopyPropertyListObject, SharesNothingWithTheOriginal) {
  const PlistValue original = PlistDict{{"list", PlistValue(PlistArray{PlistValue(PlistData{{1, 2, 3}})})}};
  const PlistValue before = original;
  PlistValue copy = ZVDeepMutableCopyPropertyListObject(original);
  EXPECT_EQ(copy, original);
  (*(*copy.asDictionary())["list"].asArray())[0] = PlistValue(PlistData{{9, 2, 3}});
  (*copy.asDictionary())["list"].asArray()->push_back(PlistValue(true));
  EXPECT_EQ(original, before);
}

}  // namespace
}  // namespace strandel::testing
