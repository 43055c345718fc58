#include <gtest/gtest.h>

#include <algorithm>
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

// The tool's first answers are stored for good, an empty one too, and logged once; the calls after
// them start no tool. A tool that cannot start leaves nothing stored.
TEST(ZVGetCurrentSystemString, TheToolsFirstAnswersAreStoredForGood) {
  const PlistDict report{{"ProductName", PlistValue("Mac OS X")},
                         {"ProductVersion", PlistValue("10.14.6")},
                         {"BuildVersion", PlistValue("18G95")}};
  // The image, the version text, the report and how many times the tool runs for them.
  const std::tuple<ImageBuilder, std::optional<std::string>, PlistDict, int> cases[] = {
      {versionImage(), "10.14.6", report, 2}, {versionImage("", ""), "", {}, 2}, {ImageBuilder{}, std::nullopt, {}, 0}};
  ::testing::internal::CaptureStderr();
  for (const auto& [image, version, dictionary, runs] : cases) {
    ScopedMachine machine(image);
    SCOPED_TRACE(version.value_or("(no tool)"));
    // A stored value of another kind is no answer.
    EXPECT_TRUE(platform::current()->settings().set("ZVCurrentSWVers", PlistValue(std::int64_t{10})));
    for (int call = 0; call < 2; ++call) {
      EXPECT_EQ(ZVGetCurrentSystemString(), version);
      EXPECT_EQ(ZVGetCurrentSystemDictionary(), dictionary);
    }
    EXPECT_EQ(toolRuns(machine.dir()), runs);
    EXPECT_EQ(stored("ZVCurrentSWVers"), version ? PlistValue(*version) : PlistValue(std::int64_t{10}));
    EXPECT_EQ(stored("ZVCurrentSWVersDict"), runs ? std::optional(PlistValue(dictionary)) : std::nullopt);
  }
  // Each report the tool gave is logged once, on one line.
  std::string log = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(log.find("{ BuildVersion = 18G95; ProductName = \"Mac OS X\"; ProductVersion = \"10.14.6\"; }\n"),
            std::string::npos)
      << log;
  EXPECT_EQ(std::ranges::count(log, '\n'), 2) << log;
  // Without a running version nothing compares; once a tool is there, the next call asks it.
  ScopedMachine machine(ImageBuilder{});
  EXPECT_EQ(ZVCompareCurrentSystemVersionWith("10.12"), 0);
  versionImage("10.13.6\n").write(machine.dir());
  EXPECT_EQ(ZVGetCurrentSystemString(), "10.13.6");
}

// The answers are kept in the settings file for later launches: a later process starts no tool,
// and a stored text is the answer whatever the tool would say now. A comparison with nothing
// still reads the running version first, so it fills the store too.
TEST(ZVGetCurrentSystemString, ALaterProcessStartsNoTool) {
  TempDir settings, image;
  versionImage("10.12.6\n").write(image.path());
  ::setenv("STRANDEL_SETTINGS", (settings.path() / "settings.plist").c_str(), 1);
  auto out = [&](std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {"--machine", image.str(), "--format", "json"});
    return runStrandel(arguments).out;
  };
  EXPECT_EQ(out({"os", "compare"}), "0\n");
  EXPECT_EQ(toolRuns(image.path()), 1);
  EXPECT_EQ(out({"os", "info"}),
            "{\"BuildVersion\":\"18G95\",\"ProductName\":\"Mac OS X\",\"ProductVersion\":\"10.14.6\"}\n");
  versionImage("10.15.7\n", "ProductVersion:\t10.15.7\n").write(image.path());
  EXPECT_EQ(out({"os", "version"}), "\"10.12.6\"\n");
  EXPECT_EQ(out({"os", "info"}),
            "{\"BuildVersion\":\"18G95\",\"ProductName\":\"Mac OS X\",\"ProductVersion\":\"10.14.6\"}\n");
  EXPECT_EQ(out({"os", "compare", "10.13"}), "-1\n");
  ::unsetenv("STRANDEL_SETTINGS");
  EXPECT_EQ(toolRuns(image.path()), 2);
}

TEST(ZVCompareCurrentSystemVersionWith, WorkedCasesAgainstAStoredVersion) {
  // The running version, the argument (absent: std::nullopt) and the answer; the ordering itself
  // is NumericCompare's, the trimming TrimVersionArgument's.
  const std::vector<std::tuple<std::string, std::optional<std::string>, std::int64_t>> cases = {
      {"10.14.6", "10.14", 1},   {"11.0", "10.16", 1},
      {"10.14.6", "", 0},        {"10.14.6", std::nullopt, 0},
      {"10.14.6", "letters", 1}, {"10.14", "\u00E9t\u00E9\u00A010.14\u3000", 0},
      {"", "10.6", -1},          {"", "beta", 0},
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
  std::vector<std::pair<std::optional<std::string>, PlistDict>> answers(8);
  {
    std::vector<std::jthread> threads;
    for (auto& answer : answers) {
      threads.emplace_back([&answer] { answer = {ZVGetCurrentSystemString(), ZVGetCurrentSystemDictionary()}; });
    }
  }
  for (auto& [version, report] : answers) {
    EXPECT_EQ(version, "10.14.6");
    EXPECT_EQ(report["BuildVersion"], PlistValue("18G95"));
  }
  EXPECT_EQ(stored("ZVCurrentSWVers"), PlistValue("10.14.6"));
  EXPECT_GE(toolRuns(machine.dir()), 2);
}

}  // namespace
}  // namespace strandel::testing
