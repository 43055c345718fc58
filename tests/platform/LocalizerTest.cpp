// Translations: the `.strings` tables in their forms, and the bundle they are looked up in.
#include <gtest/gtest.h>

#include <cstdlib>

#include <strandel/Machine.hpp>
#include <strandel/PlistValue.hpp>

#include "platform/BundleChoice.hpp"
#include "platform/HostServices.hpp"
#include "platform/StringsTable.hpp"
#include "tests/support/TempDir.hpp"

namespace strandel::platform {
namespace {

using testing::TempDir;
using testing::writeFile;

std::string utf16(std::u16string_view text, bool bigEndian, bool mark = true) {
  std::string out;
  if (mark) out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (char16_t unit : text) {
    char high = static_cast<char>(unit >> 8), low = static_cast<char>(unit & 0xFF);
    out += bigEndian ? std::string{high, low} : std::string{low, high};
  }
  return out;
}

TEST(StringsTable, ParsesEveryFormIntoItsEntries) {
  const std::u16string_view utf16Text = u"/* Units */\n\"GB\" = \"Go\";\n\"Internal\" = \"Interne \U0001F4BE\";\n";
  const StringsTable utf16Entries{{"GB", "Go"}, {"Internal", "Interne \U0001F4BE"}};
  PlistDict dict{{"External", PlistValue("Externe")}, {"Count", PlistValue(3)}};

  const struct {
    const char* name;
    std::string bytes;
    std::optional<StringsTable> expected;
  } cases[] = {
      {"comments everywhere",
       "/* Disk words\n   over two lines */\n// a line comment\n\"Internal\" /* c */ = // c\n \"Interne\" ; // end",
       StringsTable{{"Internal", "Interne"}}},
      {"escapes", R"("a\"b" = "line\nnext\ttab\rret\\back\U00e9\u2014";)",
       StringsTable{{"a\"b", "line\nnext\ttab\rret\\back\u00e9\u2014"}}},
      {"surrogate pair escape", R"("disk" = "\UD83D\UDCBE";)", StringsTable{{"disk", "\U0001F4BE"}}},
      {"lone surrogate escape", R"("x" = "\UD83D!";)", StringsTable{{"x", "\uFFFD!"}}},
      {"octal escape", R"("x" = "\101\0610";)", StringsTable{{"x", "A10"}}},
      {"unquoted words", "Internal = Interne;\nkey_1.2-x = \"v\";", StringsTable{{"Internal", "Interne"}, {"key_1.2-x", "v"}}},
      {"key alone is its own value", "\"Solid State\";", StringsTable{{"Solid State", "Solid State"}}},
      {"later entry wins", "\"k\" = \"one\";\n\"k\" = \"two\";", StringsTable{{"k", "two"}}},
      {"empty text", "", StringsTable{}},
      {"only comments", "/* nothing */ // here\n", StringsTable{}},
      {"braced", "{ \"a\" = \"b\"; }", StringsTable{{"a", "b"}}},
      {"UTF-8 with a mark", "\xEF\xBB\xBF\"a\" = \"b\";", StringsTable{{"a", "b"}}},
      {"UTF-16 LE with a mark", utf16(utf16Text, false), utf16Entries},
      {"UTF-16 BE with a mark", utf16(utf16Text, true), utf16Entries},
      {"UTF-16 LE without a mark", utf16(utf16Text, false, false), utf16Entries},
      {"XML property list", writeXmlPlist(PlistValue(dict)), StringsTable{{"External", "Externe"}}},
      {"binary property list", writeBinaryPlist(PlistValue(dict)), StringsTable{{"External", "Externe"}}},
      {"UTF-16 XML property list",
       utf16(u"<?xml version=\"1.0\"?><plist><dict><key>a</key><string>b</string></dict></plist>", false),
       StringsTable{{"a", "b"}}},
      // Malformed: each of these is no table at all.
      {"missing semicolon", "\"a\" = \"b\"\n\"c\" = \"d\";", std::nullopt},
      {"unterminated string", "\"a\" = \"b;", std::nullopt},
      {"unterminated comment", "\"a\" = \"b\"; /* never closed", std::nullopt},
      {"missing value", "\"a\" = ;", std::nullopt},
      {"stray text", "\"a\" = \"b\"; }", std::nullopt},
      {"unclosed brace", "{ \"a\" = \"b\";", std::nullopt},
      {"not UTF-8", "\"a\" = \"\xff\";", std::nullopt},
      {"odd UTF-16", std::string("\xFF\xFE\x41", 3), std::nullopt},
      {"UTF-16 lone surrogate", utf16(u"\"a\" = \"", false) + std::string("\x3D\xD8", 2) + utf16(u"\";", false, false), std::nullopt},
      {"property list that is not a dictionary", writeXmlPlist(PlistValue(PlistArray{PlistValue("a")})), std::nullopt},
      {"broken XML", "<?xml version=\"1.0\"?><plist><dict><key>a</key>", std::nullopt},
      {"broken binary", "bplist00garbage", std::nullopt},
      {"trailing backslash", "\"a\" = \"b\\", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(parseStringsTable(c.bytes), c.expected) << c.name;
}

// Leaves the process with no bundle named, whatever the test did.
struct BundleReset {
  BundleReset() { reset(); }
  ~BundleReset() { reset(); }
  static void reset() {
    forgetChosenBundle();
    ::unsetenv("STRANDEL_BUNDLE");
  }
};

// (Translations found in either table, and no bundle at all, the volume-list and byte-label
// tests read through their bundles.)
TEST(BundleLocalizer, AnythingNotFoundGivesTheKey) {
  BundleReset reset;
  TempDir bundle;
  writeFile(bundle.path() / "ZorvikLocal.strings", "\"GB\" = \"Go\";\n");
  writeFile(bundle.path() / "Localizable.strings", "\"APFS Volume\" = \"Volume APFS\";\n");
  writeFile(bundle.path() / "Broken.strings", "\"a\" = \"b\"");
  auto localizer = makeBundleLocalizer();
  useBundle(bundle.str());
  const struct {
    const char *key, *table, *expected;
  } lookups[] = {
      {"APFS Volume", "ZorvikLocal", "APFS Volume"}, {"GB", "", "GB"}, {"a", "Broken", "a"},
      {"x", "Missing", "x"}, {"", "ZorvikLocal", ""}, {"APFS Volume", "Localizable", "Volume APFS"},
  };
  for (const auto& l : lookups) EXPECT_EQ(localizer->localized(l.key, l.table), l.expected) << l.key << " in " << l.table;
  // A table changed on disk is read again.
  EXPECT_EQ(localizer->localized("GB", "ZorvikLocal"), "Go");
  writeFile(bundle.path() / "ZorvikLocal.strings", "\"GB\" = \"Gigaoctets\";\n");
  EXPECT_EQ(localizer->localized("GB", "ZorvikLocal"), "Gigaoctets");
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
