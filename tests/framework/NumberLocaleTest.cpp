// Numbers written and read by the library keep the decimal point whatever locale the host has
// set: a GUI host calls setlocale, and a decimal comma would break JSON and byte texts.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <optional>
#include <string>

#include <strandel/Strandel.hpp>

#include "tests/framework/CatalogueImages.hpp"
#include "tests/support/TempDir.hpp"

namespace strandel::testing {
namespace {

// Makes a German locale (decimal comma) in a temporary folder with localedef and sets it for
// the whole process while in scope; the C locale comes back after.
class CommaLocale {
 public:
  CommaLocale() {
    std::string command = "localedef -i de_DE -f UTF-8 '" + folder_.str() + "/de_DE.UTF-8' >/dev/null 2>&1";
    if (std::system("command -v localedef >/dev/null 2>&1") != 0 || std::system(command.c_str()) != 0) return;
    // glibc reads LOCPATH when a locale is set, so it must be in the environment first.
    ::setenv("LOCPATH", folder_.str().c_str(), 1);
    active_ = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
  }
  ~CommaLocale() {
    std::setlocale(LC_ALL, "C");
    ::unsetenv("LOCPATH");
  }
  CommaLocale(const CommaLocale&) = delete;
  CommaLocale& operator=(const CommaLocale&) = delete;
  bool active() const { return active_; }

 private:
  TempDir folder_;
  bool active_ = false;
};

TEST(NumberLocale, CommaDecimalLocaleChangesNoNumber) {
  CommaLocale locale;
  if (!locale.active()) GTEST_SKIP() << "localedef could not make de_DE.UTF-8 (install the locales package)";
  ASSERT_STREQ(std::localeconv()->decimal_point, ",");  // the locale really has a decimal comma
  NoBundle untranslated;

  EXPECT_EQ(writeJson(PlistValue(PlistDict{{"Percent", 0.5}, {"Big", 1e300}})),
            R"({"Big":1.0000000000000001e+300,"Percent":0.5})");
  EXPECT_EQ(StrandelFramework().unitizedBytes(1536), "1.54 KB");
  EXPECT_EQ(ZVFoundationConvertBytesToStringValue(1536), "1.54 KB");
  double bytes = 1.5e9;
  EXPECT_EQ(ZVFoundationRoundByteCountToMBAndString(bytes), "1430M");

  auto json = [](const std::optional<PlistValue>& value) { return value ? writeJson(*value) : "nothing"; };
  const PlistValue real(PlistDict{{"Half", 0.5}, {"Third", 1.0 / 3}});
  std::string xml = writeXmlPlist(real);
  EXPECT_NE(xml.find("<real>0.5</real>"), std::string::npos) << xml;
  EXPECT_EQ(json(readPlist(xml)), json(real)) << xml;
  EXPECT_EQ(json(readPlist("<plist><real>0.5</real></plist>")), "0.5");
  EXPECT_EQ(json(readPlist(writeBinaryPlist(real))), json(real));
}

}  // namespace
}  // namespace strandel::testing
