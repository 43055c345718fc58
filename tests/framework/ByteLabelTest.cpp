#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include <strandel/Strandel.hpp>

#include "tests/framework/CatalogueImages.hpp"

namespace strandel::testing {
namespace {

TEST(UnitizedBytes, WorkedValuesAndCountsOutsideTheUnitTable) {
  NoBundle untranslated;
  constexpr double kInf = std::numeric_limits<double>::infinity();
  const struct {
    double bytes;
    std::string label;
  } cases[] = {
      {0, "0 bytes"},           {1, "1 bytes"},           {999, "999 bytes"},       {1000, "1.00 KB"},
      {1024, "1.02 KB"},        {1536, "1.54 KB"},        {999999, "1000.00 KB"},   {1000000, "1.00 MB"},
      {1000000000, "1.00 GB"},  {500107862016, "500.11 GB"}, {9223372036854775807.0, "9.22 EB"},
      {9.99e26, "999.00 YB"},   {-1536, "-1536 bytes"},   {0.5, "0 bytes"},         {0.999, "1 bytes"},
      // Counts outside the unit table are clamped into it.
      {1e-300, "0 bytes"},      {std::numeric_limits<double>::denorm_min(), "0 bytes"},
      {1e27, "1000.00 YB"},     {2.5e30, "2500000.00 YB"}, {kInf, "inf YB"},        {-kInf, "-inf bytes"},
      {std::numeric_limits<double>::quiet_NaN(), "nan bytes"},
      {-std::numeric_limits<double>::quiet_NaN(), "nan bytes"},
  };
  StrandelFramework framework;
  for (const auto& c : cases) EXPECT_EQ(framework.unitizedBytes(c.bytes), c.label) << "bytes " << c.bytes;
  // The largest finite count still prints every digit of its figure.
  std::string largest = framework.unitizedBytes(std::numeric_limits<double>::max());
  EXPECT_TRUE(largest.ends_with(" YB")) << largest;
  EXPECT_GT(largest.size(), 280u);
}

TEST(UnitizedBytes, UnitWordGoesThroughTheHostTable) {
  Bundle bundle(Bundle::Tables{{"ZorvikLocal.strings", "\"GB\" = \"Go\";\n\"bytes\" = \"octets\";\n"}});
  StrandelFramework framework;
  EXPECT_EQ(framework.unitizedBytes(500107862016), "500.11 Go");
  EXPECT_EQ(framework.unitizedBytes(12), "12 octets");
  EXPECT_EQ(framework.unitizedBytes(1536), "1.54 KB");
}

}  // namespace
}  // namespace strandel::testing
