#include "plist/XmlText.hpp"
#include "plist/PlistWriter.hpp"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>

#include "text/CharacterClass.hpp"

namespace strandel::plist {
namespace {

std::string_view skipSpace(std::string_view text) noexcept {
  std::size_t i = 0;
  while (i < text.size() && text::isCSpace(text[i])) ++i;
  return text.substr(i);
}

int digitValue(char c) noexcept {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'z') return c - 'a' + 10;
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  return 99;
}

// strtoull with base 0, without its dependence on the locale.
std::uint64_t unsignedOf(std::string_view text) noexcept {
  text = skipSpace(text);
  bool negative = false;
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  int base = 10;
  if (text.size() >= 3 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X') &&
      digitValue(text[2]) < 16) {
    base = 16;
    text.remove_prefix(2);
  } else if (!text.empty() && text[0] == '0') {
    base = 8;
  }
  std::uint64_t value = 0;
  bool overflow = false;
  for (char c : text) {
    int digit = digitValue(c);
    if (digit >= base) break;
    if (value > (std::numeric_limits<std::uint64_t>::max() - static_cast<unsigned>(digit)) /
                    static_cast<unsigned>(base))
      overflow = true;
    value = value * static_cast<unsigned>(base) + static_cast<unsigned>(digit);
  }
  if (overflow) return std::numeric_limits<std::uint64_t>::max();
  return negative ? 0 - value : value;
}

// Whether a number that is out of a double's range is too large rather than too small: the
// place of its first significant digit, moved by its exponent, is above the units.
bool tooLarge(std::string_view number, bool hex) noexcept {
  long long place = 0;  // places of the first significant digit left of the point
  bool seenPoint = false, seenDigit = false;
  std::size_t i = 0;
  const char exponentMark = hex ? 'p' : 'e';
  for (; i < number.size(); ++i) {
    char c = number[i];
    if (c == '.') {
      seenPoint = true;
      continue;
    }
    if ((c | 0x20) == exponentMark || digitValue(c) >= (hex ? 16 : 10)) break;
    if (!seenDigit && c != '0') seenDigit = true;
    if (seenDigit && !seenPoint) ++place;
    if (!seenDigit && seenPoint) --place;
  }
  long long exponent = 0;
  if (i < number.size() && (number[i] | 0x20) == exponentMark) {
    std::string_view rest = number.substr(i + 1);
    bool negative = !rest.empty() && rest[0] == '-';
    if (!rest.empty() && (rest[0] == '-' || rest[0] == '+')) rest.remove_prefix(1);
    for (char c : rest) {
      if (c < '0' || c > '9') break;
      if (exponent < 1'000'000'000) exponent = exponent * 10 + (c - '0');
    }
    if (negative) exponent = -exponent;
  }
  // A hex digit is four binary places.
  return (hex ? place * 4 : place) + exponent > 0;
}

}  // namespace

PlistValue integerOf(std::string_view text) noexcept {
  text = skipSpace(text);
  bool negative = false;
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  std::uint64_t value = unsignedOf(text);
  if (negative) return PlistValue(static_cast<std::int64_t>(0 - value));
  if (value <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
    return PlistValue(static_cast<std::int64_t>(value));
  return PlistValue(value);
}

double realOf(std::string_view text) noexcept {
  text = skipSpace(text);
  bool negative = false;
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  bool hex = text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  std::string_view number = hex ? text.substr(2) : text;
  double value = 0;
  // After "0x" the 0 is a number even when no hex digit follows; otherwise text with no
  // number reads as 0 whatever its sign.
  bool isNumber = hex;
  if (!number.empty() && number[0] != '-' && number[0] != '+') {
    auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value,
                                        hex ? std::chars_format::hex : std::chars_format::general);
    if (error == std::errc::result_out_of_range) {
      isNumber = true;
      value = tooLarge(number.substr(0, static_cast<std::size_t>(end - number.data())), hex)
                  ? std::numeric_limits<double>::infinity()
                  : 0.0;
    } else if (error != std::errc()) {
      value = 0;
    } else {
      isNumber = true;
    }
  }
  return negative && isNumber ? -value : value;
}

std::optional<double> dateOf(std::string_view text) noexcept {
  text = skipSpace(text);
  while (!text.empty() && text::isCSpace(text.back())) text.remove_suffix(1);
  // [-]YYYY-MM-DDTHH:MM:SSZ: a year of any sign and up to nine digits, as CF reads it, so that
  // every date a list can hold reads.
  const bool negative = !text.empty() && text[0] == '-';
  if (negative) text.remove_prefix(1);
  std::size_t yearDigits = 0;
  while (yearDigits < text.size() && text[yearDigits] >= '0' && text[yearDigits] <= '9')
    ++yearDigits;
  if (yearDigits == 0 || yearDigits > 9 || text.size() != yearDigits + 16) return std::nullopt;
  std::string_view rest = text.substr(yearDigits);
  if (rest[0] != '-' || rest[3] != '-' || rest[6] != 'T' || rest[9] != ':' || rest[12] != ':' ||
      rest[15] != 'Z')
    return std::nullopt;
  auto field = [](std::string_view digits) -> long long {
    long long value = 0;
    for (char c : digits) {
      if (c < '0' || c > '9') return -1;
      value = value * 10 + (c - '0');
    }
    return value;
  };
  plist::CivilTime time;
  time.year = field(text.substr(0, yearDigits)) * (negative ? -1 : 1);
  const long long month = field(rest.substr(1, 2)), day = field(rest.substr(4, 2));
  const long long hour = field(rest.substr(7, 2)), minute = field(rest.substr(10, 2)),
                  second = field(rest.substr(13, 2));
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 || hour > 23 || minute < 0 ||
      minute > 59 || second < 0 || second > 59)
    return std::nullopt;
  // A day past the month's end runs into the next.
  time.month = static_cast<int>(month);
  time.day = static_cast<int>(day);
  time.hour = static_cast<int>(hour);
  time.minute = static_cast<int>(minute);
  time.second = static_cast<int>(second);
  return static_cast<double>(plist::secondsOf(time));
}

std::optional<PlistData> dataOf(std::string_view text) {
  PlistData data;
  data.bytes.reserve(text.size() / 4 * 3);
  std::uint32_t group = 0;
  int filled = 0, padding = 0;
  for (char c : text) {
    int value;
    if (c >= 'A' && c <= 'Z') value = c - 'A';
    else if (c >= 'a' && c <= 'z') value = c - 'a' + 26;
    else if (c >= '0' && c <= '9') value = c - '0' + 52;
    else if (c == '+') value = 62;
    else if (c == '/') value = 63;
    else if (text::isXmlSpace(c)) continue;
    else if (c == '=' && filled >= 2) value = -1;
    else return std::nullopt;
    if (value < 0) {
      ++padding;
      value = 0;
    } else if (padding) {
      return std::nullopt;  // a digit after padding inside one group
    }
    group = group << 6 | static_cast<std::uint32_t>(value);
    if (++filled < 4) continue;
    data.bytes.push_back(static_cast<std::uint8_t>(group >> 16));
    if (padding < 2) data.bytes.push_back(static_cast<std::uint8_t>(group >> 8));
    if (padding < 1) data.bytes.push_back(static_cast<std::uint8_t>(group));
    group = 0;
    filled = padding = 0;
  }
  if (filled) return std::nullopt;
  return data;
}

}  // namespace strandel::plist
