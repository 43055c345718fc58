#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include <strandel/Strandel.hpp>

#include "platform/Machine.hpp"
#include "tests/framework/CatalogueImages.hpp"
#include "tests/support/Paths.hpp"

namespace strandel::testing {
namespace {

std::string readText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// The volume list of each sample machine, as a person has read it once against the rules.
class GoldenVolumeList : public ::testing::TestWithParam<const char*> {};

TEST_P(GoldenVolumeList, MatchesTheReviewedList) {
  NoBundle untranslated;
  auto previous = platform::current();
  auto error = useMachine(sampleMachine(GetParam()));
  ASSERT_FALSE(error) << *error;
  std::string list = writeJson(PlistValue(StrandelFramework().volumeList())) + "\n";
  platform::setCurrent(previous);
  std::string golden = readText(sourceDir() + "/samples/golden/volumes/" + GetParam() + ".json");
  EXPECT_EQ(list, golden) << "the list of " << GetParam() << " changed; if that is right, review and replace "
                          << "samples/golden/volumes/" << GetParam() << ".json with:\n" << list;
}

INSTANTIATE_TEST_SUITE_P(Samples, GoldenVolumeList, ::testing::Values("intel-macos10.13", "network-backup"),
                         [](const auto& info) {
                           std::string name = info.param;
                           for (char& c : name) if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           return name;
                         });

}  // namespace
}  // namespace strandel::testing
