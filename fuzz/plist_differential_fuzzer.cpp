// Our property-list reader against libplist on the same bytes: where both read a value it is
// the same value, kinds and bits included; where only libplist reads one, our refusal is one
// of the deliberate ones; where only we read one, something is wrong.
//
// libplist is only asked about inputs it survives: it copies a container each time it is
// named and recurses on nesting, so lists we refuse as shared or deep, and large inputs, are
// left out. Its conversion to values is the one Strandel used before it had a reader of its own.
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz/FuzzCheck.hpp"
#include "fuzz/LibplistOracle.hpp"
#include "plist/PlistReader.hpp"

namespace {

using strandel::PlistValue;

// Refusals that are ours by design: libplist reads these lists (or dies on them), we don't.
bool deliberate(const std::string& refusal) {
  // "<plist> is not closed": after a value written <dict/>, libplist is lax about a last
  // <plist>; "more after the list's value": libplist keeps filling a root written <array/> or
  // <dict/>.
  static constexpr std::string_view kMarks[] = {
      "NUL",
      "U+0000",
      "base64",
      "a date",
      "inside itself",
      "nested more than",
      "beyond what",
      "more values than",
      "<plist> is not closed",
      "more after the list's value",
  };
  for (std::string_view mark : kMarks)
    if (refusal.find(mark) != std::string::npos) return true;
  return false;
}

// libplist keeps a date as a 32-bit count of whole seconds toward zero and the microseconds
// left over without their sign: before 2001, -1.25 comes back as -0.75. We keep the double.
bool libplistHoldsDate(double seconds) { return seconds > -2147483648.0 && seconds < 2147483647.0; }

bool sameDate(double ours, double theirs) {
  if (!libplistHoldsDate(ours)) return true;
  double whole = std::trunc(ours);
  double micro = (ours - whole) * 1e6;
  return std::fabs(whole + std::fabs(micro) / 1e6 - theirs) <= 2e-6;
}

// Whether a value holds what libplist can't: a date beyond its 32-bit seconds.
bool beyondLibplist(const PlistValue& value) {
  if (const auto* date = value.asDate()) return !libplistHoldsDate(date->secondsSince2001);
  if (const auto* array = value.asArray())
    for (const auto& item : *array)
      if (beyondLibplist(item)) return true;
  if (const auto* dict = value.asDictionary())
    for (const auto& [key, item] : *dict)
      if (beyondLibplist(item)) return true;
  return false;
}

bool same(const PlistValue& ours, const PlistValue& theirs) {
  if (ours.kind() != theirs.kind()) return false;
  switch (ours.kind()) {
    case PlistValue::Kind::Real: {
      double a = *ours.asReal(), b = *theirs.asReal();
      return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b) ||
             (std::isnan(a) && std::isnan(b));
    }
    case PlistValue::Kind::Date:
      return sameDate(ours.asDate()->secondsSince2001, theirs.asDate()->secondsSince2001);
    case PlistValue::Kind::Array: {
      const auto &a = *ours.asArray(), &b = *theirs.asArray();
      if (a.size() != b.size()) return false;
      for (std::size_t i = 0; i < a.size(); ++i)
        if (!same(a[i], b[i])) return false;
      return true;
    }
    case PlistValue::Kind::Dictionary: {
      const auto &a = *ours.asDictionary(), &b = *theirs.asDictionary();
      if (a.size() != b.size()) return false;
      for (auto i = a.begin(), j = b.begin(); i != a.end(); ++i, ++j)
        if (i->first != j->first || !same(i->second, j->second)) return false;
      return true;
    }
    default:
      return ours == theirs;
  }
}

void report(const char* what, const strandel::plist::PlistReadResult& ours,
            const std::optional<PlistValue>& theirs) {
  std::fprintf(stderr, "ours:     %s %s\nlibplist: %s\n",
               strandel::fuzz::describe(ours.value).c_str(), ours.refusal.c_str(),
               strandel::fuzz::describe(theirs).c_str());
  strandel::fuzz::check(false, what);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes = strandel::fuzz::textOf(data, size);
  strandel::plist::PlistReadResult ours = strandel::plist::readPlistExplained(bytes);
  strandel::fuzz::check(ours.value.has_value() != !ours.refusal.empty(),
                        "a value or a refusal, never both");
  if (!strandel::fuzz::oracleSurvives(bytes, ours.refusal)) return 0;
  std::optional<PlistValue> theirs = strandel::fuzz::oracleRead(bytes);
  if (ours.value && theirs) {
    if (!same(*ours.value, *theirs))
      report("both read the list, to different values", ours, theirs);
  } else if (ours.value && !beyondLibplist(*ours.value)) {
    report("we read a list that libplist refuses", ours, theirs);
  } else if (theirs && !deliberate(ours.refusal)) {
    report("we refuse a list that libplist reads", ours, theirs);
  }
  return 0;
}
