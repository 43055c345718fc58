#include <gtest/gtest.h>

#include <memory>

#include <strandel/Strandel.hpp>

namespace strandel {
namespace {

struct QuietDelegate : StrandelDelegate {
  void handleProgress(ProgressText) override {}
};

TEST(FrameworkObject, OwnsItsDelegateUntilReplacedOrDestroyed) {
  std::weak_ptr<StrandelDelegate> first, second;
  {
    StrandelFramework framework;
    EXPECT_EQ(framework.delegate(), nullptr);
    {
      auto delegate = std::make_shared<QuietDelegate>();
      first = delegate;
      framework.setDelegate(delegate);
    }
    // The host dropped its reference; the object keeps the delegate alive.
    ASSERT_FALSE(first.expired());
    EXPECT_EQ(framework.delegate(), first.lock());

    auto replacement = std::make_shared<QuietDelegate>();
    second = replacement;
    framework.setDelegate(std::move(replacement));
    EXPECT_TRUE(first.expired());
    EXPECT_FALSE(second.expired());
  }
  EXPECT_TRUE(second.expired());
}

TEST(FrameworkObject, ProgressTextIsHeldAndReplaced) {
  StrandelFramework framework;
  EXPECT_EQ(framework.currentProgress(), nullptr);
  framework.setCurrentProgress(makeProgressText("Started file system verification on disk4s1\n"));
  ProgressText held = framework.currentProgress();
  ASSERT_NE(held, nullptr);
  framework.setCurrentProgress(nullptr);
  EXPECT_EQ(framework.currentProgress(), nullptr);
  // A text read before the replacement stays valid for its reader.
  EXPECT_EQ(*held, "Started file system verification on disk4s1\n");
}

}  // namespace
}  // namespace strandel
