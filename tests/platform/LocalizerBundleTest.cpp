#include <gtest/gtest.h>

#include <cstdlib>

#include <strandel/Machine.hpp>

#include "platform/BundleChoice.hpp"
#include "platform/HostServices.hpp"
#include "tests/support/TempDir.hpp"

namespace strandel::platform {
namespace {

using testing::TempDir;
using testing::writeFile;

// Leaves the process with no bundle named, whatever the test did.
struct BundleReset {
  BundleReset() { reset(); }
  ~BundleReset() { reset(); }
  static void reset() {
    forgetChosenBundle();
    ::unsetenv("STRANDEL_BUNDLE");
  }
};

TEST(BundleLocalizer, LooksUpTheNamedTableOrGivesTheKey) {
  BundleReset reset;
  TempDir bundle;
  writeFile(bundle.path() / "ZorvikLocal.strings", "\"GB\" = \"Go\";\n\"Internal\" = \"Interne\";\n");
  writeFile(bundle.path() / "Localizable.strings", "\"APFS Volume\" = \"Volume APFS\";\n");
  writeFile(bundle.path() / "Broken.strings", "\"a\" = \"b\"");
  auto localizer = makeBundleLocalizer();

  // No bundle named: every key is its own translation.
  EXPECT_EQ(localizer->localized("GB", "ZorvikLocal"), "GB");

  useBundle(bundle.str());
  struct Lookup {
    const char* key;
    const char* table;
    const char* expected;
  };
  const Lookup lookups[] = {
      {"GB", "ZorvikLocal", "Go"},
      {"Internal", "ZorvikLocal", "Interne"},
      {"APFS Volume", "ZorvikLocal", "APFS Volume"},
      {"APFS Volume", "", "Volume APFS"},
      {"APFS Volume", "Localizable", "Volume APFS"},
      {"GB", "", "GB"},
      {"a", "Broken", "a"},
      {"x", "Missing", "x"},
      {"", "ZorvikLocal", ""},
  };
  for (const Lookup& l : lookups) EXPECT_EQ(localizer->localized(l.key, l.table), l.expected) << l.key << " in " << l.table;

  // A table changed on disk is read again.
  writeFile(bundle.path() / "ZorvikLocal.strings", "\"GB\" = \"Gigaoctets\";\n");
  EXPECT_EQ(localizer->localized("GB", "ZorvikLocal"), "Gigaoctets");

  useBundle("");
  EXPECT_EQ(localizer->localized("GB", "ZorvikLocal"), "GB");
}

TEST(BundleLocalizer, EnvironmentNamesTheBundleUnlessTheProcessDid) {
  BundleReset reset;
  TempDir fromEnvironment, fromCall;
  writeFile(fromEnvironment.path() / "Localizable.strings", "\"k\" = \"environment\";");
  writeFile(fromCall.path() / "Localizable.strings", "\"k\" = \"call\";");
  auto localizer = makeBundleLocalizer();
  ::setenv("STRANDEL_BUNDLE", fromEnvironment.str().c_str(), 1);
  EXPECT_EQ(chosenBundle(), fromEnvironment.str());
  EXPECT_EQ(localizer->localized("k", ""), "environment");
  useBundle(fromCall.str());
  EXPECT_EQ(localizer->localized("k", ""), "call");
  // "" names no bundle at all, even with the environment variable set.
  useBundle("");
  EXPECT_EQ(localizer->localized("k", ""), "k");
}

}  // namespace
}  // namespace strandel::platform
