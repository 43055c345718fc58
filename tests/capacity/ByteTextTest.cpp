#include "capacity/ByteText.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include <strandel/Strandel.hpp>

#include "platform/Machine.hpp"
#include "tests/support/ImageBuilder.hpp"

namespace strandel {
namespace {

using capacity::ByteBase;
using capacity::bytesToText;

struct TextCase {
  double bytes;
  const char* text;
};

constexpr TextCase kDecimalCases[] = {
    {0, "0 bytes"},
    {1, "1 bytes"},
    {999, "999 bytes"},
    {1000, "1000 bytes"},
    {1001, "1 KB"},
    {1010, "1.01 KB"},
    {1500, "1.50 KB"},
    {1536, "1.54 KB"},
    {999999, "1000 KB"},
    {1000000, "1000 KB"},
    {1000001, "1 MB"},
    {1234567, "1.23 MB"},
    {1999999, "2 MB"},
    {1000000000000, "1000 GB"},
    {1000000000001, "1 TB"},
    {1099511627776, "1.10 TB"},
    {500107862016, "500.11 GB"},
    {4000787030016, "4 TB"},
    {-5, "-5 bytes"},
};

constexpr TextCase kBinaryCases[] = {
    {1000, "1000 bytes"}, {1024, "1024 bytes"},        {1025, "1 KB"}, {1536, "1.50 KB"}, {1048576, "1024 KB"},
    {1048577, "1 MB"},    {500107862016, "465.76 GB"},
};

TEST(ByteText, DecimalWorkedValues) {
  for (const auto& c : kDecimalCases) EXPECT_EQ(bytesToText(c.bytes, ByteBase::Decimal), c.text) << c.bytes;
}

TEST(ByteText, BinaryWorkedValues) {
  for (const auto& c : kBinaryCases) EXPECT_EQ(bytesToText(c.bytes, ByteBase::Binary), c.text) << c.bytes;
}

TEST(ByteText, CountsBeyondTheWordTableKeepScalingUnderTheLastWord) {
  EXPECT_EQ(bytesToText(1e27, ByteBase::Decimal), "1000 YB");
  EXPECT_EQ(bytesToText(1.5e27, ByteBase::Decimal), "1.50 YB");
  EXPECT_EQ(bytesToText(1e30, ByteBase::Decimal), "1000 YB");
  EXPECT_EQ(bytesToText(std::ldexp(1.0, 80), ByteBase::Binary), "1024 ZB");
  EXPECT_EQ(bytesToText(std::ldexp(1.0, 90), ByteBase::Binary), "1024 YB");
  EXPECT_EQ(bytesToText(std::ldexp(1.0, 91), ByteBase::Binary), "2 YB");
}

struct RoundCase {
  double before;
  const char* text;
  double after;
};

TEST(ByteText, RoundsDownToWholeMebibytes) {
  constexpr RoundCase kCases[] = {
      {0, "0M", 0},
      {1048575, "0M", 0},
      {1048576, "1M", 1048576},
      {1500000, "1M", 1048576},
      {5242879, "4M", 4194304},
      {500107862016, "476940M", 500107837440},
      {1099511627776, "1048576M", 1099511627776},
      {-1, "-1M", -1048576},
      {-1048576, "-1M", -1048576},
      {-1048577, "-2M", -2097152},
  };
  for (const auto& c : kCases) {
    double count = c.before;
    EXPECT_EQ(ZVFoundationRoundByteCountToMBAndString(count), c.text) << c.before;
    EXPECT_EQ(count, c.after) << c.before;
  }
}

TEST(ByteText, AnAbsentCountReadsAsZero) { EXPECT_EQ(ZVFoundationConvertBytesToStringValue(std::nullopt), "0 bytes"); }

// The base follows the running OS on every call.

testing::ImageBuilder machineWithVersionTool(const std::string& version) {
  testing::ImageBuilder image;
  image.tool("/usr/bin/sw_vers",
             "#!/bin/sh\n"
             "if [ \"$1\" = -productVersion ]; then echo " +
                 version +
                 "; exit 0; fi\n"
                 "printf 'ProductName:\\tMac OS X\\nProductVersion:\\t" +
                 version + "\\nBuildVersion:\\t9L31a\\n'\n");
  return image;
}

TEST(ByteText, TheBaseFollowsTheRunningVersion) {
  // No version tool at all: the comparison answers 0, which is not "older".
  const struct {
    std::optional<std::string> version;
    const char* text;
  } cases[] = {{"10.5.8", "1.50 KB"},
               {"10.6", "1.54 KB"},
               {"10.15.7", "1.54 KB"},
               {"14.1.1", "1.54 KB"},
               {std::nullopt, "1.54 KB"}};
  for (const auto& c : cases) {
    testing::ScopedMachine machine(c.version ? machineWithVersionTool(*c.version) : testing::ImageBuilder{});
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
