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
      {1000000000001, ByteBase::Decimal, "1 TB"},
      {500107862016, ByteBase::Decimal, "500.11 GB"},
      {-5, ByteBase::Decimal, "-5 bytes"},
      {1e27, ByteBase::Decimal, "1000 YB"},
      {1.5e27, ByteBase::Decimal, "1.50 YB"},
      {1e30, ByteBase::Decimal, "1000 YB"},
      {1024, ByteBase::Binary, "1024 bytes"},
      {1025, ByteBase::Binary, "1 KB"},
      {1536, ByteBase::Binary, "1.50 KB"},
      {1048576, ByteBase::Binary, "1024 KB"},
      {1048577, ByteBase::Binary, "1 MB"},
      {500107862016, ByteBase::Binary, "465.76 GB"},
      {std::ldexp(1.0, 80), ByteBase::Binary, "1024 ZB"},
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

TEST(ByteText, TheBaseFollowsTheRunningVersion) {
  // No version tool at all: the comparison answers 0, which is not "older".
  const struct {
    std::optional<std::string> version;
    const char* text;
  } cases[] = {{"10.5.8", "1.50 KB"}, {"10.6", "1.54 KB"}, {"14.1.1", "1.54 KB"}, {std::nullopt, "1.54 KB"}};
  for (const auto& c : cases) {
    testing::ImageBuilder image;
    if (c.version) testing::addVersionTool(image, *c.version + "\n");
    testing::ScopedMachine machine(image);
    EXPECT_EQ(ZVFoundationConvertBytesToStringValue(1536), c.text) << c.version.value_or("none");
  }
}

TEST(ByteText, TheBaseFollowsTheStoredVersionOnEveryCall) {
  testing::ScopedMachine machine(testing::ImageBuilder{});
  auto& settings = platform::current()->settings();
  ASSERT_TRUE(settings.set("ZVCurrentSWVers", PlistValue("10.5.8")));
  EXPECT_EQ(ZVFoundationConvertBytesToStringValue(1536), "1.50 KB");
  ASSERT_TRUE(settings.set("ZVCurrentSWVers", PlistValue("10.6.8")));
  EXPECT_EQ(ZVFoundationConvertBytesToStringValue(1536), "1.54 KB");
}

}  // namespace
}  // namespace strandel
