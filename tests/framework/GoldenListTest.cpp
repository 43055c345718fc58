#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include <strandel/Strandel.hpp>

#include "platform/Machine.hpp"
#include "tests/framework/CatalogueImages.hpp"
#include "tests/support/Paths.hpp"

namespace strandel::testing {
namespace {

// Every golden list names its sample machine: samples/golden/volumes/<image>.json.
std::vector<std::string> goldenImages() {
  std::vector<std::string> images;
  for (const auto& entry : std::filesystem::directory_iterator(sourceDir() + "/samples/golden/volumes")) {
    if (entry.path().extension() == ".json") images.push_back(entry.path().stem().string());
  }
  std::sort(images.begin(), images.end());
  return images;
}

// The volume list of each sample machine, as a person has read it once against the rules.
class GoldenVolumeList : public ::testing::TestWithParam<std::string> {};

TEST_P(GoldenVolumeList, MatchesTheReviewedList) {
  NoBundle untranslated;
  auto previous = platform::current();
  auto error = useMachine(sampleMachine(GetParam()));
  ASSERT_FALSE(error) << *error;
  PlistArray records = StrandelFramework().volumeList();
  std::string list = writeJson(PlistValue(records)) + "\n";
  platform::setCurrent(previous);
  // Every record has exactly the keys that the public header names, in its order.
  for (const auto& record : records) {
    std::vector<std::string_view> keys;
    for (const auto& entry : *record.asDictionary()) keys.push_back(entry.first);
    EXPECT_TRUE(std::ranges::equal(keys, kVolumeRecordKeys)) << writeJson(record);
  }
  const std::string golden = "samples/golden/volumes/" + GetParam() + ".json";
  EXPECT_EQ(list, readFile(sourceDir() + "/" + golden))
      << "the list of " << GetParam() << " changed; if that is right, review and replace " << golden << " with:\n"
      << list;
}

INSTANTIATE_TEST_SUITE_P(Samples, GoldenVolumeList, ::testing::ValuesIn(goldenImages()), [](const auto& info) {
  std::string name = info.param;
  std::replace_if(
      name.begin(), name.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
  return name;
});

}  // namespace
}  // namespace strandel::testing
