// Property-list bytes, XML or binary: what reads is written back and reads again identical, in
// binary always and in XML wherever XML can hold it; and libplist reads what we write to the
// same value.
#include <bit>
#include <cmath>
#include <cstdint>

#include <strandel/PlistValue.hpp>

#include "base/Utf8.hpp"
#include "fuzz/FuzzCheck.hpp"
#include "fuzz/LibplistOracle.hpp"
#include "plist/PlistReader.hpp"
#include "plist/PlistWriter.hpp"

namespace {

using strandel::PlistValue;

// Equal, and bit for bit where == is not: reals and dates (NaN, -0). Text has no place for a
// NaN's payload, so XML compares every NaN equal.
bool identical(const PlistValue& a, const PlistValue& b, bool anyNaN) {
  auto sameBits = [&](double x, double y) {
    return std::bit_cast<std::uint64_t>(x) == std::bit_cast<std::uint64_t>(y) ||
           (anyNaN && std::isnan(x) && std::isnan(y));
  };
  if (a.asReal() && b.asReal()) return sameBits(*a.asReal(), *b.asReal());
  if (a.asDate() && b.asDate())
    return sameBits(a.asDate()->secondsSince2001, b.asDate()->secondsSince2001);
  if (a.asArray() && b.asArray()) {
    if (a.asArray()->size() != b.asArray()->size()) return false;
    for (std::size_t i = 0; i < a.asArray()->size(); ++i)
      if (!identical((*a.asArray())[i], (*b.asArray())[i], anyNaN)) return false;
    return true;
  }
  if (a.asDictionary() && b.asDictionary()) {
    if (a.asDictionary()->size() != b.asDictionary()->size()) return false;
    for (auto i = a.asDictionary()->begin(), j = b.asDictionary()->begin();
         i != a.asDictionary()->end(); ++i, ++j)
      if (i->first != j->first || !identical(i->second, j->second, anyNaN)) return false;
    return true;
  }
  return a == b;
}

// Whether `holds` is true of every value a full walk visits, a walk that gives up (false) past
// `budget` values.
template <class Test>
bool everyValue(const PlistValue& value, std::size_t& budget, const Test& holds) {
  if (budget == 0 || !holds(value)) return false;
  --budget;
  if (const auto* array = value.asArray()) {
    for (const auto& item : *array)
      if (!everyValue(item, budget, holds)) return false;
  }
  if (const auto* dict = value.asDictionary()) {
    for (const auto& entry : *dict)
      if (!everyValue(entry.second, budget, holds)) return false;
  }
  return true;
}

// Whether libplist can be asked to read a value back: a few thousand values at most (it copies
// shared containers), valid UTF-8 texts and keys only (its binary reader and ours differ on the
// rest by design), reals that equal themselves, dates within its 32-bit seconds, whole.
bool libplistHolds(const PlistValue& value) {
  std::size_t budget = 4096;
  return everyValue(value, budget, [](const PlistValue& item) {
    if (const auto* text = item.asString()) return strandel::base::isValidUtf8(*text);
    if (const auto real = item.asReal()) return !std::isnan(*real);
    if (const auto* date = item.asDate())
      return std::fabs(date->secondsSince2001) < 2e9 &&
             date->secondsSince2001 == std::trunc(date->secondsSince2001);
    if (const auto* dict = item.asDictionary()) {
      for (const auto& entry : *dict)
        if (!strandel::base::isValidUtf8(entry.first)) return false;
    }
    return true;
  });
}

// Whether a full walk of the value visits at most 16 values a byte of its input. A binary list a
// few hundred bytes long may name its containers so that the walk grows far beyond the list (up
// to the reader's expansion budget, millions of values); writing and reading that back as text
// is bounded but takes many seconds under the fuzzer's instrumentation, so a value that expands
// well beyond its input is only read.
bool walksWithinInput(const PlistValue& value, std::size_t inputSize) {
  std::size_t budget = 16 * inputSize + 4096;
  return everyValue(value, budget, [](const PlistValue&) { return true; });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto value = strandel::readPlist(strandel::fuzz::textOf(data, size));
  if (!value) return 0;
  if (!walksWithinInput(*value, size)) return 0;
  // Our reader gives no text holding U+0000, so the exact binary form holds every value read.
  auto binary = strandel::plist::writeBinary(*value, strandel::plist::WriteMode::Exact);
  strandel::fuzz::check(binary.has_value(), "the binary form holds every value read");
  strandel::plist::PlistReadResult again = strandel::plist::readPlistExplained(*binary);
  strandel::fuzz::check(again.value && identical(*again.value, *value, false),
                        "a value read back identical from binary");

  if (auto xml = strandel::plist::writeXml(*value, strandel::plist::WriteMode::Exact)) {
    again = strandel::plist::readPlistExplained(*xml);
    strandel::fuzz::check(again.value && identical(*again.value, *value, true),
                          "a value read back identical from XML");
  }
  // The lenient forms always read back, and writing what they gave changes nothing more.
  for (auto write : {strandel::writeXmlPlist, strandel::writeBinaryPlist}) {
    auto once = strandel::readPlist(write(*value));
    strandel::fuzz::check(once.has_value(), "every value written reads back");
    auto twice = strandel::readPlist(write(*once));
    strandel::fuzz::check(twice && identical(*twice, *once, true),
                          "a second writing changes nothing");
  }
  if (binary->size() < (64u << 10) && libplistHolds(*value)) {
    auto theirs = strandel::fuzz::oracleRead(*binary);
    strandel::fuzz::check(theirs && *theirs == *value,
                          "libplist reads our binary form to the same value");
  }
  strandel::fuzz::check(!strandel::writeJson(*value).empty(), "every value has a JSON text");
  return 0;
}
