#include <gtest/gtest.h>

#include "platform/live/LiveMachine.hpp"

namespace strandel::platform {
namespace {

TEST(LiveMachine, RegistryIsEmptyOnThisHost) {
  auto machine = live::makeLiveMachine();
  ASSERT_TRUE(machine);
  Registry& registry = machine->registry();
  EXPECT_TRUE(registry.mediaObjects().empty());
  EXPECT_FALSE(registry.mediaObjectForBSDName("disk0"));
  EXPECT_TRUE(registry.descendants(RegistryObject{1}).empty());
  EXPECT_EQ(registry.className(RegistryObject{1}), "");
  EXPECT_FALSE(registry.searchProperty(RegistryObject{1}, "BSD Name"));
  EXPECT_FALSE(registry.description(RegistryObject{1}));
  EXPECT_FALSE(registry.descriptionForBSDName("disk1s1"));
}

}  // namespace
}  // namespace strandel::platform
