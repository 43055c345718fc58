// Capacities of the sample machines that ship with the project: the container figures of
// their listings against the figures of their mounted volumes.
#include <gtest/gtest.h>

#include <strandel/Machine.hpp>
#include <strandel/Strandel.hpp>

#include "platform/Machine.hpp"
#include "tests/support/Paths.hpp"

namespace strandel {
namespace {

struct SampleCase {
  const char* machine;
  const char* mountPoint;
  double total;
  double apfsUsed;
  const char* totalText;
  const char* usedText;
};

constexpr SampleCase kCases[] = {
    // The sealed system snapshot answers for its whole container, disk3.
    {"apple-silicon-macos26", "/", 494384795648, 238999904256, "494.38 GB", "239 GB"},
    {"apple-silicon-macos26", "/System/Volumes/Hardware", 524288000, 18575360, "524.29 MB", "18.58 MB"},
    // exFAT on a partition: disk4 has no container, the volume's own used size stands.
    {"apple-silicon-macos26", "/Volumes/TRANSFER", 39998586880, 15485108224, "40 GB", "15.49 GB"},
    // 10.11 has no APFS lookups: the used size of the HFS+ root.
    {"intel-macos10.11", "/", 999345127424, 297281261568, "999.35 GB", "297.28 GB"},
    // 10.12: the store of the external container comes from its physical stores.
    {"intel-macos10.12", "/Volumes/T5 Scratch", 499898105856, 102535045120, "499.90 GB", "102.54 GB"},
    {"intel-macos10.13", "/Volumes/Data Archive", 399345340416, 148789194752, "399.35 GB", "148.79 GB"},
    {"network-backup", "/Volumes/Backups of Dana\u2019s MacBook Pro", 2000155525120, 1220979949568, "2 TB", "1.22 TB"},
    // A network share has no disk: no disk utility run, its own used size.
    {"network-backup", "/Volumes/Backups", 3998832979968, 2120693379072, "4 TB", "2.12 TB"},
};

TEST(SampleMachines, CapacitiesOfTheirVolumes) {
  auto previous = platform::current();
  for (const auto& c : kCases) {
    auto error = useMachine(testing::sampleMachine(c.machine));
    ASSERT_FALSE(error) << *error;
    std::string where = std::string(c.machine) + " " + c.mountPoint;
    EXPECT_EQ(ZVFoundationGetVolTotalSize(c.mountPoint), c.total) << where;
    EXPECT_EQ(ZVFoundationGetAPFSVolUsedSize(c.mountPoint), c.apfsUsed) << where;
    EXPECT_EQ(ZVFoundationGetVolTotalSizeString(c.mountPoint), c.totalText) << where;
    EXPECT_EQ(ZVFoundationGetVolUsedSizeString(c.mountPoint), c.usedText) << where;
    // Used and free always add up to the total.
    EXPECT_EQ(ZVFoundationGetVolUsedSize(c.mountPoint) + ZVFoundationGetVolFreeSize(c.mountPoint), c.total) << where;
  }
  platform::setCurrent(previous);
}

}  // namespace
}  // namespace strandel
