#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include <strandel/PlistValue.hpp>

namespace strandel {
namespace {

using namespace std::string_literals;

PlistValue everyKind() {
  PlistDict dict;
  dict["string"] = "Macintosh HD — Data ’";
  dict["empty"] = "";
  dict["int"] = std::int64_t{-42};
  dict["umax"] = std::numeric_limits<std::uint64_t>::max();
  dict["real"] = 3.25;
  dict["true"] = true;
  dict["false"] = false;
  dict["data"] = PlistData{{0, 1, 2, 255}};
  dict["date"] = PlistDate{631152000};
  dict["array"] = PlistArray{PlistValue(1), PlistValue("two"), PlistValue(PlistArray{}), PlistValue(PlistDict{})};
  PlistDict inner;
  inner["nested"] = PlistArray{PlistValue(PlistDict{{"deep", PlistValue(true)}})};
  dict["dict"] = std::move(inner);
  return PlistValue(std::move(dict));
}

TEST(PlistValue, RoundTripsEveryKindThroughXmlAndBinary) {
  for (const std::string& bytes : {writeXmlPlist(everyKind()), writeBinaryPlist(everyKind())}) {
    EXPECT_EQ(readPlist(bytes), everyKind());
  }
}

// Copies share their contents until changed; each row changes one side after copying and
// checks that the other still holds what it held.
TEST(PlistValue, CopiesBehaveAsDeepCopies) {
  auto deep = [](PlistValue& v) -> PlistValue& { return (*v.asDictionary())["dict"]; };
  const std::vector<std::pair<const char*, std::function<void(PlistValue & original, PlistValue & copy)>>> rows = {
      {"change the copy", [](PlistValue&, PlistValue& copy) { (*copy.asDictionary())["int"] = 1; }},
      {"change the original", [](PlistValue& original, PlistValue&) { original.asDictionary()->erase("int"); }},
      {"change a level below", [&](PlistValue&, PlistValue& copy) { (*deep(copy).asDictionary())["nested"] = 0; }},
      {"assign the copy", [](PlistValue&, PlistValue& copy) { copy = PlistValue(PlistArray{}); }},
      {"write through a pointer taken before copying",
       [](PlistValue& original, PlistValue& copy) {
         PlistDict* dict = original.asDictionary();
         copy = original;  // the pointer may still be written through, so this copy must not share
         (*dict)["int"] = 7;
       }},
  };
  for (const auto& [name, change] : rows) {
    PlistValue original = everyKind();
    PlistValue copy = original;
    const PlistValue* before = original.find("string");
    change(original, copy);
    bool originalChanged = !(original == everyKind());
    bool copyChanged = !(copy == everyKind());
    EXPECT_NE(originalChanged, copyChanged) << name;
    if (!originalChanged) {
      EXPECT_EQ(before, original.find("string")) << name << ": a pointer into it moved";
    }
  }
}

// The dictionary answers as a map of its keys: sorted, each key once, the first of equal keys
// given together kept, the last of a reader's.
TEST(PlistValue, DictionaryAnswersAsAMap) {
  PlistDict dict{{"b", PlistValue(1)}, {"a", PlistValue(2)}, {"b", PlistValue(3)}};
  EXPECT_EQ(dict, (PlistDict{{"a", PlistValue(2)}, {"b", PlistValue(1)}}));
  EXPECT_FALSE(dict.emplace("a", 9).second);
  EXPECT_TRUE(dict.try_emplace(std::string("c"), 4).second);
  EXPECT_FALSE(dict.insert_or_assign("c", 5).second);
  EXPECT_EQ(dict.emplace_hint(dict.begin(), "d", 6)->first, "d");  // a wrong hint is only a hint
  dict["0"] = 7;
  EXPECT_EQ(dict.erase("b"), 1u);
  EXPECT_EQ(dict.erase("b"), 0u);
  std::string keys;
  for (const auto& [key, value] : dict) keys += key.str() + std::to_string(*value.asInteger());
  EXPECT_EQ(keys, "07a2c5d6");
  EXPECT_EQ(dict.count("c"), 1u);
  EXPECT_TRUE(dict.find("zz") == dict.end());
  EXPECT_EQ(dict.lower_bound("b")->first, "c");
  EXPECT_EQ(PlistDict::fromEntries({{"b", PlistValue(1)}, {"a", PlistValue(2)}, {"b", PlistValue(3)}}),
            (PlistDict{{"a", PlistValue(2)}, {"b", PlistValue(3)}}));
}

// Run under the thread sanitizer: copies of one value used, changed and dropped in threads at once.
TEST(PlistValue, CopiesOfOneValueMayLiveInDifferentThreads) {
  const PlistValue shared = everyKind();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&shared, t] {
      for (int i = 0; i < 200; ++i) {
        PlistValue mine = shared;
        EXPECT_TRUE(shared.find("dict") != nullptr);
        if (i % 2) (*mine.asDictionary())["thread"] = t;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(shared, everyKind());
}

// Booleans are not numbers, characters are not integers, and each integer type keeps its sign.
TEST(PlistValue, KindsOfNumbers) {
  EXPECT_NE(PlistValue(true), PlistValue(1));
  EXPECT_NE(PlistValue(false), PlistValue(0));
  EXPECT_EQ(PlistValue(5), PlistValue(std::uint64_t{5}));
  EXPECT_NE(PlistValue(-1), PlistValue(std::numeric_limits<std::uint64_t>::max()));
  EXPECT_FALSE(PlistValue(1).asBoolean().has_value());
  EXPECT_FALSE(PlistValue(true).asInteger().has_value());
  EXPECT_EQ(PlistValue("1").asNumber(), std::nullopt);
  EXPECT_EQ(PlistValue(std::uint8_t{200}).asUnsignedInteger(), 200u);
  EXPECT_EQ(PlistValue(std::int8_t{-5}).asInteger(), -5);
  EXPECT_EQ(PlistValue(short{-300}).asInteger(), -300);
  static_assert(!std::is_constructible_v<PlistValue, char> && !std::is_constructible_v<PlistValue, char8_t> &&
                !std::is_constructible_v<PlistValue, char32_t> && !std::is_constructible_v<PlistValue, wchar_t>);
}

TEST(PlistValue, BytesThatAreNotAPropertyListGiveNothing) {
  std::string xml = writeXmlPlist(everyKind());
  std::string binary = writeBinaryPlist(everyKind());
  const std::string cases[] = {
      "",
      "garbage",
      "bplist00",
      xml.substr(0, xml.size() / 2),
      binary.substr(0, binary.size() / 2),
      binary.substr(0, binary.size() - 3),
      std::string("\0\0\0\0", 4),
  };
  for (const auto& bytes : cases) EXPECT_FALSE(readPlist(bytes).has_value()) << bytes.size();
}

TEST(PlistValue, JsonShapes) {
  EXPECT_EQ(writeJson(PlistValue("a\"b\\c\n")), R"("a\"b\\c\n")");
  EXPECT_EQ(writeJson(PlistValue("\xff"s + "a")), R"("\ufffda")");
  EXPECT_EQ(writeJson(PlistValue(PlistData{{'M', 'a'}})), R"("TWE=")");
  EXPECT_EQ(writeJson(PlistValue(PlistDate{0})), R"("2001-01-01T00:00:00Z")");
  EXPECT_EQ(writeJson(PlistValue(PlistUrl{"file:///"})), R"("file:///")");
  EXPECT_EQ(writeJson(PlistValue(PlistUrl{})), R"("")");
  EXPECT_EQ(writeJson(PlistValue(PlistDict{{"b", PlistValue(1)}, {"a", PlistValue(false)}})), R"({"a":false,"b":1})");
  EXPECT_EQ(writeJson(PlistValue(500000002048.0)), "500000002048");
  EXPECT_EQ(writeJson(PlistValue(std::numeric_limits<double>::quiet_NaN())), "null");
}

// A key or string with a byte that starts no UTF-8 character used to lose everything from that
// byte on in the binary form: "Err\xA2rMessage" came back as "Err".
TEST(PlistValue, BinaryFormKeepsTextAroundBadUtf8Bytes) {
  const struct {
    std::string text, binaryBack;
  } cases[] = {
      {"Err\xA2rMessage", "Err\xEF\xBF\xBDrMessage"},
      {"\xFF\xFE", "\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"caf\xC3\xA9 \xE2\x80", "caf\xC3\xA9 \xEF\xBF\xBD\xEF\xBF\xBD"},
      {"caf\xC3\xA9", "caf\xC3\xA9"},
  };
  for (const auto& c : cases) {
    PlistValue value(PlistDict{{c.text, PlistValue(c.text)}, {"Err", PlistValue(1)}});
    auto back = readPlist(writeBinaryPlist(value));
    ASSERT_TRUE(back.has_value()) << c.text;
    EXPECT_EQ(*back, PlistValue(PlistDict{{c.binaryBack, PlistValue(c.binaryBack)}, {"Err", PlistValue(1)}})) << c.text;
    // The XML form, valid XML, has no place for them either.
    EXPECT_EQ(readPlist(writeXmlPlist(value)), *back) << c.text;
  }
}

}  // namespace
}  // namespace strandel
