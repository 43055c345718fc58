#include "capacity/ByteText.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include <strandel/Strandel.hpp>

#include "platform/Machine.hpp"
#include "tests/support/ImageBuilder.hpp"
#include "tests/system/VersionTool.hpp"

namespace strandel {
namespace {

using capacity::ByteBase;
using capacity::bytesToText;

// Each unit's boundary, rounding to a whole figure or to two decimals, and counts beyond the
// word table, which keep scaling under the last word.
TEST(ByteText, WorkedValuesInBothBases) {
  const struct {
    double bytes;
    ByteBase base;
    const char* text;
  } cases[] = {
      {0, ByteBase::Decimal, "0 bytes"},
      {1000, ByteBase::Decimal, "1000 bytes"},
      {1001, ByteBase::Decimal, "1 KB"},
      {1010, ByteBase::Decimal, "1.01 KB"},
      {1500, ByteBase::Decimal, "1.50 KB"},
      {1000000, ByteBase::Decimal, "1000 KB"},
      {1000001, ByteBase::Decimal, "1 MB"},
      {1999999, ByteBase::Decimal, "2 MB"},
      {500107862016, ByteBase::Decimal, "500.11 GB"},
      {-5, ByteBase::Decimal, "-5 bytes"},
      {1e27, ByteBase::Decimal, "1000 YB"},
      {1.5e27, ByteBase::Decimal, "1.50 YB"},
      {1e30, ByteBase::Decimal, "1000 YB"},
      {1536, ByteBase::Binary, "1.50 KB"},
      {1048576, ByteBase::Binary, "1024 KB"},
      {1048577, ByteBase::Binary, "1 MB"},
      {500107862016, ByteBase::Binary, "465.76 GB"},
      {std::ldexp(1.0, 90), ByteBase::Binary, "1024 YB"},
      {std::ldexp(1.0, 91), ByteBase::Binary, "2 YB"},
  };
  for (const auto& c : cases) EXPECT_EQ(bytesToText(c.bytes, c.base), c.text) << c.bytes;
}

TEST(ByteText, RoundsDownToWholeMebibytes) {
  const struct {
    double before;
    const char* text;
    double after;
  } cases[] = {
      {0, "0M", 0},
      {1048575, "0M", 0},
      {1048576, "1M", 1048576},
      {5242879, "4M", 4194304},
      {1099511627776, "1048576M", 1099511627776},
      {-1048576, "-1M", -1048576},
      {-1048577, "-2M", -2097152},
  };
  for (const auto& c : cases) {
    double count = c.before;
    EXPECT_EQ(ZVFoundationRoundByteCountToMBAndString(count), c.text) << c.before;
    EXPECT_EQ(count, c.after) << c.before;
  }
}

TEST(ByteText, AnAbsentCountReadsAsZero) { EXPECT_EQ(ZVFoundationConvertBytesToStringValue(std::nullopt), "0 bytes"); }

// The base is decided on every call: from the version tool's answer, or from a stored version
// that changes. No version tool at all: the comparison answers 0, which is not "older".
TEST(ByteText, TheBaseFollowsTheRunningVersion) {
  const struct {
    std::optional<std::string> version;
    const char* text;
  } cases[] = {{"10.5.8", "1.50 KB"}, {"10.6", "1.54 KB"}, {"14.1.1", "1.54 KB"}, {std::nullopt, "1.54 KB"}};
  for (const auto& c : cases) {
    testing::ImageBuilder image;
    if (c.version) testing::addVersionTool(image, *c.version + "\n");
    testing::ScopedMachine machine(image);
    EXPECT_EQ(ZVFoundationConvertBytesToStringValue(1536), c.text) << c.version.value_or("none");
    // The other base once the stored version changes.
    bool older = std::string_view(c.text) == "1.50 KB";
    ASSERT_TRUE(platform::current()->settings().set("ZVCurrentSWVers", PlistValue(older ? "10.6.8" : "10.5.8")));
    EXPECT_EQ(ZVFoundationConvertBytesToStringValue(1536), older ? "1.54 KB" : "1.50 KB") << "stored";
  }
}

}  // namespace
}  // namespace strandel
