#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "plist/PlistReader.hpp"
#include "plist/PlistWriter.hpp"
#include "tests/support/TempDir.hpp"

using namespace strandel::plist;

namespace strandel {
namespace {

// Equal, and bit for bit where == is not: reals and dates (NaN, -0).
bool identical(const PlistValue& a, const PlistValue& b) {
  if (a.asReal() && b.asReal())
    return std::bit_cast<std::uint64_t>(*a.asReal()) == std::bit_cast<std::uint64_t>(*b.asReal());
  if (a.asDate() && b.asDate())
    return std::bit_cast<std::uint64_t>(a.asDate()->secondsSince2001) ==
           std::bit_cast<std::uint64_t>(b.asDate()->secondsSince2001);
  if (a.asArray() && b.asArray()) {
    if (a.asArray()->size() != b.asArray()->size()) return false;
    for (std::size_t i = 0; i < a.asArray()->size(); ++i)
      if (!identical((*a.asArray())[i], (*b.asArray())[i])) return false;
    return true;
  }
  if (a.asDictionary() && b.asDictionary()) {
    if (a.asDictionary()->size() != b.asDictionary()->size()) return false;
    for (auto i = a.asDictionary()->begin(), j = b.asDictionary()->begin(); i != a.asDictionary()->end(); ++i, ++j)
      if (i->first != j->first || !identical(i->second, j->second)) return false;
    return true;
  }
  return a == b;
}

PlistValue uid(std::int64_t n) { return PlistValue(PlistDict{{kUidKey, PlistValue(n)}}); }

// The shapes the settings file and the images hold at their edges, one a row.
struct Shape {
  const char* name;
  PlistValue value;
  bool xmlHoldsIt;  // XML 1.0 can hold it exactly
};

std::vector<Shape> shapes() {
  PlistValue shared(PlistArray{PlistValue("System"), PlistValue("Data")});
  PlistArray reused(3000, shared);
  PlistValue deep(PlistArray{});
  for (std::size_t i = 1; i < kMaxPlistNesting; ++i) deep = PlistValue(PlistArray{deep});
  return {
      {"uid", uid(7), true},
      {"uid-large", uid(0xFFFFFFFF), true},
      {"date-fraction", PlistValue(PlistDate{12.5}), false},
      {"date-year-1", PlistValue(PlistDate{-63113904000}), true},
      {"umax", PlistValue(std::numeric_limits<std::uint64_t>::max()), true},
      {"imin", PlistValue(std::numeric_limits<std::int64_t>::min()), true},
      {"reals",
       PlistValue(PlistArray{PlistValue(0.1), PlistValue(-0.0), PlistValue(1e308), PlistValue(5e-324),
                             PlistValue(std::numeric_limits<double>::infinity())}),
       true},
      {"data", PlistValue(PlistData{{0, 1, 2, 0xFF, 0xFE}}), true},
      {"markup", PlistValue(PlistDict{{"a<&>]]>\r\n\t", PlistValue("\"'\r")}}), true},
      {"unicode", PlistValue(PlistDict{{"Macintosh HD — Data", PlistValue("\xF0\x9F\x98\x80 \xEF\xBF\xBD")}}), true},
      {"key-u0001", PlistValue(PlistDict{{"a\x01", PlistValue(1)}}), false},
      {"text-ufffe", PlistValue("\xEF\xBF\xBE"), false},
      {"nesting-512", deep, true},
      {"reused-list", PlistValue(std::move(reused)), true},
      {"empty", PlistValue(PlistDict{}), true},
  };
}

// What is written reads back identical: in binary always, in XML where XML can hold it (and
// otherwise the exact writer says so).
TEST(PlistWriter, WritesEveryShapeBackIdentical) {
  for (const Shape& shape : shapes()) {
    auto binary = writeBinary(shape.value, WriteMode::Exact);
    ASSERT_TRUE(binary.has_value()) << shape.name;
    PlistReadResult back = readPlistExplained(*binary);
    ASSERT_TRUE(back.value.has_value()) << shape.name << ": " << back.refusal;
    EXPECT_TRUE(identical(*back.value, shape.value)) << shape.name;

    auto xml = writeXml(shape.value, WriteMode::Exact);
    EXPECT_EQ(xml.has_value(), shape.xmlHoldsIt) << shape.name;
    if (xml) {
      back = readPlistExplained(*xml);
      ASSERT_TRUE(back.value.has_value()) << shape.name << ": " << back.refusal;
      EXPECT_TRUE(identical(*back.value, shape.value)) << shape.name;
    }
    EXPECT_TRUE(readPlist(writeXmlPlist(shape.value)).has_value()) << shape.name;
  }
  // A list reused everywhere is written once.
  EXPECT_LT(writeBinaryPlist(shapes()[13].value).size(), 3000u * 3);
}

// Other readers take what we write: expat and libxml2 the XML, Python's plistlib both forms.
// plistlib writes each back in its own binary form, which we read to the same value.
TEST(PlistWriter, OtherReadersTakeWhatWeWrite) {
  if (std::system("command -v python3 >/dev/null && command -v xmlwf >/dev/null && command -v "
                  "xmllint >/dev/null") != 0)
    GTEST_SKIP() << "python3, xmlwf or xmllint is missing";
  testing::TempDir dir;
  std::string files;
  std::vector<std::pair<std::string, const Shape*>> written;
  const std::vector<Shape> all = shapes();
  for (const Shape& shape : all) {
    if (std::string(shape.name) == "nesting-512") continue;  // deeper than plistlib's recursion
    for (bool binary : {true, false}) {
      std::string path = dir.str() + "/" + shape.name + (binary ? ".bplist" : ".plist");
      testing::writeFile(path, binary ? writeBinaryPlist(shape.value) : writeXmlPlist(shape.value));
      written.emplace_back(path, &shape);
      files += " '" + path + "'";
    }
  }
  std::string xmlFiles = dir.str() + "/*.plist";
  EXPECT_EQ(std::system(("xmllint --noout " + xmlFiles).c_str()), 0);
  EXPECT_EQ(std::system(("test -z \"$(xmlwf " + xmlFiles + ")\"").c_str()), 0);
  const std::string python =
      "import plistlib, sys\n"
      "for name in sys.argv[1:]:\n"
      "    with open(name, 'rb') as f: value = plistlib.load(f)\n"
      "    with open(name + '.back', 'wb') as f: plistlib.dump(value, f, "
      "fmt=plistlib.FMT_BINARY)\n";
  testing::writeFile(dir.path() / "back.py", python);
  ASSERT_EQ(std::system(("python3 " + dir.str() + "/back.py" + files).c_str()), 0);
  for (const auto& [path, shape] : written) {
    auto back = readPlist(testing::readFile(path + ".back"));
    ASSERT_TRUE(back.has_value()) << path;
    // The lenient XML form has U+FFFD where XML has no character.
    if (shape->xmlHoldsIt || path.ends_with(".bplist")) {
      EXPECT_TRUE(identical(*back, shape->value)) << path;
    }
  }
}

}  // namespace
}  // namespace strandel
