#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <limits>
#include <string>

#include "platform/app/AppServices.hpp"
#include "plist/PlistReader.hpp"
#include "tests/support/BinaryPlist.hpp"
#include "tests/support/TempDir.hpp"

using namespace strandel::plist;

namespace strandel {
namespace {

using namespace std::string_literals;
using testing::binaryPlist;
using testing::ref;

std::string xml(const std::string& body) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
         "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
         "<plist version=\"1.0\">\n" +
         body + "\n</plist>\n";
}

std::string deepXml(std::size_t levels) {
  std::string out;
  for (std::size_t i = 0; i < levels; ++i) out += "<array>";
  return out;
}

constexpr auto kMaxU = std::numeric_limits<std::uint64_t>::max();
constexpr auto kMinI = std::numeric_limits<std::int64_t>::min();

// Each list reads as the value beside it, as libplist reads it too.
TEST(PlistReader, ReadsEachFormExactly) {
  const struct {
    std::string bytes;
    PlistValue value;
  } cases[] = {
      {xml("<integer>-9223372036854775808</integer>"), PlistValue(kMinI)},
      {xml("<integer>18446744073709551615</integer>"), PlistValue(kMaxU)},
      {xml("<integer> 0x10 </integer>"), PlistValue(16)},
      {xml("<integer>010</integer>"), PlistValue(8)},  // C's octal
      {xml("<integer>99999999999999999999</integer>"), PlistValue(kMaxU)},
      {xml("<real>-0x1p-1074</real>"), PlistValue(-0x1p-1074)},
      {xml("<real>1e400</real>"), PlistValue(std::numeric_limits<double>::infinity())},
      {xml("<real>1,5</real>"), PlistValue(1.0)},
      {xml("<date>2021-06-01T12:34:56Z</date>"), PlistValue(PlistDate{644243696})},
      {xml("<data>TW\n Fu\tTQ==</data>"), PlistValue(PlistData{{'M', 'a', 'n', 'M'}})},
      {xml("<string>a&amp;&lt;&#x41;&#66;<![CDATA[<&>]]><!-- x -->\r\n</string>"), PlistValue("a&<AB<&>\r\n")},
      {xml("<string>&#x1F600;</string>"), PlistValue("\xF0\x9F\x98\x80")},
      {xml("<dict> <key>b</key><true/><!-- c "
           "--><key>a</key><dict/><key>b</key><false/><key>z</key></dict>"),
       PlistValue(PlistDict{{"a", PlistValue(PlistDict{})}, {"b", PlistValue(false)}})},
      {xml("<array><string/><array/></array>"), PlistValue(PlistArray{PlistValue(""), PlistValue(PlistArray{})})},
      {binaryPlist({"\x13\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF"s}), PlistValue(-1)},
      // A 16-byte integer counts by its low 8 bytes, as an unsigned number.
      {binaryPlist({"\x14" + std::string(8, '\xFF') + std::string(8, '\xFF')}), PlistValue(kMaxU)},
      {binaryPlist({"\x14" + std::string(15, '\0') + "\x05"}), PlistValue(5)},
      {binaryPlist({"\x22\x3F\xC0\x00\x00"s}), PlistValue(1.5)},
      // UTF-16: a pair makes one character, a lone surrogate is dropped.
      {binaryPlist({"\x64\x00\xE9\xD8\x3D\xDE\x00\xDC\x00"s}), PlistValue("\xC3\xA9\xF0\x9F\x98\x80")},
      {binaryPlist({"\x5F\x10\x03"s + "abc"}), PlistValue("abc")},
      // A UID reads as the dictionary its XML form is.
      {binaryPlist({"\x81\x01\x02"s}), PlistValue(PlistDict{{"CF$UID", PlistValue(258)}})},
      // Every date either form holds, its fraction and its range kept.
      {binaryPlist({"\x33\xC1\xE7\x87\xD4\xC8\x0C\x00\x00"s}), PlistValue(PlistDate{-3.1582224e9 - 0.375})},
      {xml("<date>1900-01-01T00:00:00Z</date>"), PlistValue(PlistDate{-3187296000})},
      // A container named from two places is shared, as CF reads it.
      {binaryPlist({"\xA2" + ref(1) + ref(1), "\xA1" + ref(2), "\x10\x07"}),
       PlistValue(PlistArray{PlistValue(PlistArray{PlistValue(7)}), PlistValue(PlistArray{PlistValue(7)})})},
      // Keys in any order, one named twice: sorted, the later value kept.
      {binaryPlist({"\xD3" + ref(1) + ref(2) + ref(1) + ref(3) + ref(4) + ref(5), "\x51"s + "b", "\x51"s + "a",
                    "\x10\x01", "\x10\x02", "\x10\x03"}),
       PlistValue(PlistDict{{"a", PlistValue(2)}, {"b", PlistValue(3)}})},
      // Strings and numbers may be named from many places; sets read as arrays.
      {binaryPlist({"\xD1" + ref(1) + ref(2), "\x51k", "\xC2" + ref(3) + ref(3), "\x10\x07"}),
       PlistValue(PlistDict{{"k", PlistValue(PlistArray{PlistValue(7), PlistValue(7)})}})},
  };
  for (const auto& c : cases) {
    PlistReadResult read = readPlistExplained(c.bytes);
    ASSERT_TRUE(read.value.has_value()) << c.bytes << "\n" << read.refusal;
    EXPECT_EQ(*read.value, c.value) << c.bytes;
    EXPECT_EQ(read.value->kind(), c.value.kind()) << c.bytes;
  }
}

// Damaged and hostile lists are refused, saying what and where.
TEST(PlistReader, RefusesSayingWhatAndWhere) {
  const struct {
    std::string bytes, refusal;
  } cases[] = {
      {"<plist>", "too short to be a property list"},
      {xml("<array>\n<true/>\n</dict>"), "line 6: </dict> closes <array>"},
      {xml("<string>a&#0;b</string>"), "line 4: a text holding a NUL"},
      {xml("<string>a\0b</string>"s), "line 4: a text holding a NUL"},
      {xml("<string>&bogus;</string>"), "line 4: an unknown entity"},
      {xml("<data>TWE</data>"), "line 4: data that is not base64"},
      {xml("<date>2001-01-01</date>"), "line 4: a date that is not"},
      {xml("<dict><string>x</string></dict>"), "line 4: a dictionary value without a key"},
      {xml("<array>"), "line 5: </plist> closes <array>"},
      {deepXml(200000), "line 1: containers nested more than 512 deep"},
      {binaryPlist({"\x53"s + "a\0b"s}), "byte 0x8: a string holding a NUL byte"},
      {binaryPlist({"\x61\x00\x00"s}), "byte 0x8: a string holding U+0000"},
      {binaryPlist({"\xA1" + ref(0)}), "byte 0x8: a container inside itself"},
      {binaryPlist({"\xA1" + ref(1), "\xA1" + ref(0)}), "byte 0x8: a container inside itself"},
      {testing::sharedChain(79), "expands beyond what a list of this size can hold"},
      {testing::sharedChain(79, true), "expands beyond what a list of this size can hold"},
      {testing::reserveBomb(512, 500000), "more values than a list of this size can hold"},
      {testing::nestedBinaryArrays(200000), "containers nested more than 512 deep"},
      {binaryPlist({"\xD1" + ref(1) + ref(1), "\x10\x01"}), "byte 0xb: a dictionary key that is not a string"},
      {binaryPlist({"\xA1" + ref(5)}), "byte 0x9: a reference to object 5 of 1"},
      {binaryPlist({"\x75"s + "abcde"}), "byte 0x8: an object of unknown kind"},
      {binaryPlist({"\x13\x00"s}), "byte 0x8: an object cut short"},
  };
  for (const auto& c : cases) {
    PlistReadResult read = readPlistExplained(c.bytes);
    EXPECT_FALSE(read.value.has_value()) << c.refusal;
    EXPECT_NE(read.refusal.find(c.refusal), std::string::npos) << read.refusal << " (wanted " << c.refusal << ")";
  }
}

// 512 levels still read, in both forms.
TEST(PlistReader, ReadsNestingUpToTheLimit) {
  std::string close;
  for (std::size_t i = 0; i < kMaxPlistNesting; ++i) close += "</array>";
  EXPECT_TRUE(readPlist(deepXml(kMaxPlistNesting) + close).has_value());
  EXPECT_TRUE(readPlist(testing::nestedBinaryArrays(kMaxPlistNesting - 1)).has_value());
}

// AddressSanitizer reserves terabytes of shadow address space at start: under it the tool can't
// run below an address-space limit at all, so the limit is only set without it.
#if defined(__SANITIZE_ADDRESS__)
constexpr const char* kAddressLimit = "";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr const char* kAddressLimit = "";
#else
constexpr const char* kAddressLimit = "ulimit -v 1048576 && ";
#endif
#else
constexpr const char* kAddressLimit = "ulimit -v 1048576 && ";
#endif

// The hostile shapes through the callers: each keeps its own failure. An image is refused
// with one line (the tool exits 2, even under a 1 GB address-space limit); a settings file
// reads as empty, and is left as it is: the write fails.
TEST(PlistReader, HostileListsKeepEachCallersFailure) {
  for (const std::string& bytes : {testing::sharedChain(79), testing::sharedChain(79, true), deepXml(200000),
                                   testing::nestedBinaryArrays(200000), testing::reserveBomb(512, 500000)}) {
    testing::TempDir image;
    std::filesystem::create_directory(image.path() / "root");
    testing::writeFile(image.str() + "/machine.plist", bytes);
    const std::string err = image.str() + "/err";
    const int status = std::system(("sh -c '" + std::string(kAddressLimit) +
                                    "exec \"$0\" --machine \"$1\" volumes' " STRANDEL_TOOL_PATH " '" + image.str() +
                                    "' >/dev/null 2>'" + err + "'")
                                       .c_str());
    const std::string said = testing::readFile(err);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << said;
    EXPECT_NE(said.find("not a property list ("), std::string::npos) << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;

    testing::TempDir home;
    const std::string path = home.str() + "/settings.plist";
    testing::writeFile(path, bytes);
    auto settings = platform::makeFileSettings(path);
    EXPECT_EQ(settings->get("k"), std::nullopt);
    EXPECT_FALSE(settings->set("k", PlistValue(1)));
    EXPECT_EQ(testing::readFile(path), bytes);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(home.path()), {}),
              2);  // store, lock
  }
}

// Objects end where the offset table starts: an offset just before it reads, one exactly at it
// is refused, though the table's first byte (0x08, false) would read as an object.
TEST(PlistReader, AnObjectStartingAtTheOffsetTableIsRefused) {
  const struct {
    std::string bytes;
    std::optional<PlistValue> value;
  } cases[] = {
      {binaryPlist({"\x09"}), PlistValue(true)},
      {binaryPlist({""}), std::nullopt},              // the root
      {binaryPlist({"\xA1\x01", ""}), std::nullopt},  // an item
      {binaryPlist({"\xA1\x01", "\x09"}), PlistValue(PlistArray{PlistValue(true)})},
  };
  for (const auto& c : cases) {
    PlistReadResult read = readPlistExplained(c.bytes);
    EXPECT_EQ(read.value, c.value) << read.refusal;
    if (!c.value) {
      EXPECT_NE(read.refusal.find("past the offset table"), std::string::npos) << read.refusal;
    }
  }
}

}  // namespace
}  // namespace strandel
