// What both writers share: the public entry points, UIDs and the calendar.
#include "plist/PlistWriter.hpp"

namespace strandel::plist {

std::optional<std::uint32_t> uidOf(const PlistValue& value) noexcept {
  const PlistDict* dict = value.asDictionary();
  if (!dict || dict->size() != 1 || dict->begin()->first != kUidKey) return std::nullopt;
  const PlistValue& number = dict->begin()->second;
  if (auto v = number.asInteger(); v && *v >= 0 && *v <= 0xFFFFFFFF)
    return static_cast<std::uint32_t>(*v);
  if (auto v = number.asUnsignedInteger(); v && *v <= 0xFFFFFFFF)
    return static_cast<std::uint32_t>(*v);
  return std::nullopt;
}

namespace {
constexpr long long kSecondsFrom1970To2001 = 978307200;
}

// Howard Hinnant's days-from-civil and civil-from-days, exact for every year a long long holds
// in days.
plist::CivilTime civilTimeOf(long long secondsSince2001) noexcept {
  long long seconds = secondsSince2001 + kSecondsFrom1970To2001;
  long long days = seconds >= 0 ? seconds / 86400 : -((-seconds + 86399) / 86400);
  long long ofDay = seconds - days * 86400;
  days += 719468;
  const long long era = (days >= 0 ? days : days - 146096) / 146097;
  const long long dayOfEra = days - era * 146097;
  const long long yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const long long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const long long mp = (5 * dayOfYear + 2) / 153;
  CivilTime time;
  time.day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
  time.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  time.year = yearOfEra + era * 400 + (time.month <= 2);
  time.hour = static_cast<int>(ofDay / 3600);
  time.minute = static_cast<int>(ofDay / 60 % 60);
  time.second = static_cast<int>(ofDay % 60);
  return time;
}

long long secondsOf(const CivilTime& time) noexcept {
  const long long y = time.year - (time.month <= 2);
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const long long yearOfEra = y - era * 400;
  const long long dayOfYear =
      (153 * (time.month + (time.month > 2 ? -3 : 9)) + 2) / 5 + time.day - 1;
  const long long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  const long long days = era * 146097 + dayOfEra - 719468;
  return days * 86400 + time.hour * 3600 + time.minute * 60 + time.second - kSecondsFrom1970To2001;
}

}  // namespace strandel::plist

namespace strandel {

std::string writeXmlPlist(const PlistValue& value) {
  return *plist::writeXml(value, plist::WriteMode::Lenient);
}

std::string writeBinaryPlist(const PlistValue& value) {
  return *plist::writeBinary(value, plist::WriteMode::Lenient);
}

}  // namespace strandel
