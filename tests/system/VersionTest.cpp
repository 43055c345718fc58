#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <strandel/Machine.hpp>
#include <strandel/Strandel.hpp>

#include "platform/Machine.hpp"
#include "tests/support/Paths.hpp"
#include "tests/support/TempDir.hpp"
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

// Points the settings of every machine loaded meanwhile at one file, as a host that keeps its
// settings between launches does.
class ScopedSettingsFile {
 public:
  ScopedSettingsFile() { useSettingsFile(path()); }
  ~ScopedSettingsFile() { useSettingsFile(""); }
  std::string path() const { return (dir_.path() / "settings.plist").string(); }

 private:
  TempDir dir_;
};

TEST(ZVGetCurrentSystemString, TheFirstLineOfTheToolStoredForGood) {
  ScopedMachine machine(versionImage());
  EXPECT_EQ(ZVGetCurrentSystemString(), "10.14.6");
  EXPECT_EQ(ZVGetCurrentSystemString(), "10.14.6");
  EXPECT_EQ(ZVCompareCurrentSystemVersionWith("10.13"), 1);
  EXPECT_EQ(toolRuns(machine.dir()), 1);
  EXPECT_EQ(stored("ZVCurrentSWVers"), PlistValue("10.14.6"));
  EXPECT_EQ(stored("ZVCurrentSWVersDict"), std::nullopt);
}

TEST(ZVGetCurrentSystemString, EmptyOutputIsAnAnswerToo) {
  ScopedMachine machine(versionImage(""));
  EXPECT_EQ(ZVGetCurrentSystemString(), "");
  EXPECT_EQ(ZVGetCurrentSystemString(), "");
  EXPECT_EQ(toolRuns(machine.dir()), 1);
  EXPECT_EQ(ZVCompareCurrentSystemVersionWith("10.14"), -1);
  EXPECT_EQ(ZVCompareCurrentSystemVersionWith("macOS 10"), -1);
  EXPECT_EQ(ZVCompareCurrentSystemVersionWith("letters only"), 0);
  EXPECT_EQ(ZVCompareCurrentSystemVersionWith(" "), 0);
  EXPECT_EQ(ZVCompareCurrentSystemVersionWith(""), 0);
}

TEST(ZVGetCurrentSystemString, AToolThatCannotStartLeavesNothingBehind) {
  ScopedMachine machine(ImageBuilder{});
  EXPECT_EQ(ZVGetCurrentSystemString(), std::nullopt);
  EXPECT_EQ(ZVCompareCurrentSystemVersionWith("10.12"), 0);
  EXPECT_EQ(stored("ZVCurrentSWVers"), std::nullopt);
  EXPECT_EQ(ZVGetCurrentSystemDictionary(), PlistDict{});
  EXPECT_EQ(stored("ZVCurrentSWVersDict"), std::nullopt);

  // Once a tool is there, the next call asks it.
  ImageBuilder withTool;
  addVersionTool(withTool, "10.13.6\n", kReport).write(machine.dir());
  EXPECT_EQ(ZVGetCurrentSystemString(), "10.13.6");
  EXPECT_EQ(ZVCompareCurrentSystemVersionWith("10.13"), 1);
  EXPECT_EQ(ZVGetCurrentSystemDictionary().size(), 3u);
}

TEST(ZVGetCurrentSystemString, AStoredValueOfAnotherKindIsReplaced) {
  ScopedMachine machine(versionImage());
  ASSERT_TRUE(platform::current()->settings().set("ZVCurrentSWVers", PlistValue(std::int64_t{10})));
  EXPECT_EQ(ZVGetCurrentSystemString(), "10.14.6");
  EXPECT_EQ(stored("ZVCurrentSWVers"), PlistValue("10.14.6"));
}

// A stored text is the answer whatever the tool would say now: nothing refreshes it.
TEST(ZVGetCurrentSystemString, KeptInTheSettingsFileForLaterLaunches) {
  ScopedSettingsFile settings;
  {
    ScopedMachine first(versionImage("10.14.6\n"));
    EXPECT_EQ(ZVGetCurrentSystemString(), "10.14.6");
    EXPECT_EQ(ZVGetCurrentSystemDictionary().size(), 3u);
    EXPECT_EQ(toolRuns(first.dir()), 2);
  }
  ScopedMachine updated(versionImage("10.15.7\n", "ProductVersion:\t10.15.7\n"));
  EXPECT_EQ(ZVGetCurrentSystemString(), "10.14.6");
  EXPECT_EQ(ZVGetCurrentSystemDictionary().size(), 3u);
  EXPECT_EQ(ZVCompareCurrentSystemVersionWith("10.15"), -1);
  EXPECT_EQ(toolRuns(updated.dir()), 0);
}

std::string runTool(const std::string& settingsFile, const std::filesystem::path& image, const std::string& arguments) {
  std::string command = "STRANDEL_SETTINGS='" + settingsFile + "' '" + toolPath() + "' --machine '" + image.string() +
                        "' " + arguments + " 2>/dev/null";
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  if (!pipe) return "<popen failed>";
  std::string out;
  char buffer[256];
  while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe.get())) out.append(buffer, n);
  return out;
}

TEST(ZVGetCurrentSystemString, ALaterProcessStartsNoTool) {
  TempDir settings;
  TempDir image;
  versionImage("10.12.6\n").write(image.path());
  const std::string file = (settings.path() / "settings.plist").string();
  EXPECT_EQ(runTool(file, image.path(), "os version"), "10.12.6\n");
  EXPECT_EQ(runTool(file, image.path(), "os version"), "10.12.6\n");
  EXPECT_EQ(runTool(file, image.path(), "--format json os compare 10.13"), "-1\n");
  EXPECT_EQ(toolRuns(image.path()), 1);
}

TEST(ZVCompareCurrentSystemVersionWith, WorkedCasesAgainstAStoredVersion) {
  struct Case {
    std::string running;
    std::optional<std::string> argument;
    std::int64_t result;
  };
  const std::vector<Case> cases = {
      {"10.14.6", "10.14", 1},        {"10.14.6", "10.15", -1},      {"10.14.6", "10.14.6", 0},
      {"10.14.6", "10.9", 1},         {"10.9", "10.14", -1},         {"10.14", "10.14.0", -1},
      {"10.14.6", "", 0},             {"10.14.6", std::nullopt, 0},  {"10.14.6", "macOS 10.14", 1},
      {"10.14", "Version 10.14", 0},  {"10.14.6", "letters", 1},     {"10.14", "10.14\n", -1},
      {"10.14", "\xc3\xa9t\xc3\xa9\xc2\xa0" "10.14\xe3\x80\x80", 0}, {"", "10.6", -1},
      {"", "beta", 0},                {"", std::nullopt, 0},         {"26.3.1", "10.14", 1},
      {"11.0", "10.16", 1},           {"10.12.6", "10.13", -1},      {"10.13", "10.13", 0},
  };
  for (const auto& c : cases) {
    ScopedMachine machine(ImageBuilder{});
    ASSERT_TRUE(platform::current()->settings().set("ZVCurrentSWVers", PlistValue(c.running)));
    EXPECT_EQ(ZVCompareCurrentSystemVersionWith(c.argument), c.result)
        << '"' << c.running << "\" vs \"" << c.argument.value_or("<absent>") << '"';
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
  const PlistDict expected{{"ProductName", PlistValue("Mac OS X")},
                           {"ProductVersion", PlistValue("10.14.6")},
                           {"BuildVersion", PlistValue("18G95")},
                           {"Extra", PlistValue("a")}};
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(ZVGetCurrentSystemDictionary(), expected);
  EXPECT_EQ(ZVGetCurrentSystemDictionary(), expected);
  std::string log = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(log.find("{ BuildVersion = 18G95; Extra = a; ProductName = \"Mac OS X\"; ProductVersion = \"10.14.6\"; }"),
            std::string::npos)
      << log;
  EXPECT_EQ(log.find('\n'), log.size() - 1) << "one log line: " << log;
  EXPECT_EQ(toolRuns(machine.dir()), 1);
  EXPECT_EQ(stored("ZVCurrentSWVersDict"), PlistValue(expected));
  // Its own cache only: the version text still asks the tool.
  EXPECT_EQ(stored("ZVCurrentSWVers"), std::nullopt);
  EXPECT_EQ(ZVGetCurrentSystemString(), "10.14.6");
  EXPECT_EQ(toolRuns(machine.dir()), 2);
}

TEST(ZVGetCurrentSystemDictionary, AStoredDictionaryIsGivenAsStored) {
  ScopedMachine machine(versionImage());
  const PlistDict odd{{"ProductVersion", PlistValue(std::int64_t{10})}, {"Nested", PlistValue(PlistArray{PlistValue("x")})}};
  ASSERT_TRUE(platform::current()->settings().set("ZVCurrentSWVersDict", PlistValue(odd)));
  EXPECT_EQ(ZVGetCurrentSystemDictionary(), odd);
  EXPECT_EQ(toolRuns(machine.dir()), 0);
}

TEST(ZVGetCurrentSystemDictionary, EmptyOutputStoresAnEmptyDictionary) {
  ScopedMachine machine(versionImage("10.14.6\n", ""));
  EXPECT_EQ(ZVGetCurrentSystemDictionary(), PlistDict{});
  EXPECT_EQ(stored("ZVCurrentSWVersDict"), PlistValue(PlistDict{}));
  EXPECT_EQ(ZVGetCurrentSystemDictionary(), PlistDict{});
  EXPECT_EQ(toolRuns(machine.dir()), 1);
}

TEST(ZVDeepMutableCopyPropertyListObject, SharesNothingWithTheOriginal) {
  const PlistValue original = PlistDict{
      {"list", PlistValue(PlistArray{PlistValue("text"), PlistValue(PlistData{{1, 2, 3}})})},
      {"inner", PlistValue(PlistDict{{"n", PlistValue(std::int64_t{5})}})},
  };
  const PlistValue before = original;
  PlistValue copy = ZVDeepMutableCopyPropertyListObject(original);
  EXPECT_EQ(copy, original);

  PlistArray& list = *(*copy.asDictionary())["list"].asArray();
  list[0] = PlistValue("changed");
  list[1] = PlistValue(PlistData{{9, 2, 3}});
  list.push_back(PlistValue(true));
  (*(*copy.asDictionary())["inner"].asDictionary())["m"] = PlistValue("added");
  copy.asDictionary()->erase("inner");
  (*copy.asDictionary())["new"] = PlistValue(1.5);

  EXPECT_EQ(original, before);
  EXPECT_NE(copy, original);
}

}  // namespace
}  // namespace strandel::testing
