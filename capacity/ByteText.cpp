// Byte counts as display text. Nothing here is shared with the framework's byte label, which
// differs in threshold, decimals, base and translation.
#include "capacity/ByteText.hpp"

#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>

#include "system/Version.hpp"

namespace strandel::capacity {
namespace {

constexpr std::array<std::string_view, 9> kUnitWords = {"bytes", "KB", "MB", "GB", "TB",
                                                        "PB",    "EB", "ZB", "YB"};

// The longest fixed-point text of a double with two decimals: a sign, 309 integer digits, the
// point and two decimals.
constexpr std::size_t kFixedTextCapacity = 320;

// Fixed-point text as "%.*f" gives it (to_chars promises the same digits) without the locale
// and format-string work of the printf family.
std::string_view fixedText(double value, int decimals,
                           std::array<char, kFixedTextCapacity>& buffer) {
  auto [end, error] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                    std::chars_format::fixed, decimals);
  if (error != std::errc()) return "0";  // cannot happen: the buffer holds the longest double
  return {buffer.data(), static_cast<std::size_t>(end - buffer.data())};
}

// Byte texts show figures below a few thousand; above 2^40 (or not finite) the general path
// takes over.
constexpr double kTwoDecimalsFastLimit = 1099511627776.0;

// "%.2f" of a finite figure below 2^40 in magnitude, worked out from the double's bits: the
// exact value times 100, rounded to the nearest integer and a tie to the even one, as the
// general conversion rounds. Costs a tenth of it, and a byte text is mostly this conversion.
std::string_view twoDecimalsText(double value, std::array<char, kFixedTextCapacity>& buffer) {
  // |value| = mantissa * 2^-shift; below 2^40, shift is at least 13 (1074 for subnormals).
  auto bits = std::bit_cast<std::uint64_t>(value);
  auto biased = static_cast<int>((bits >> 52) & 0x7FF);
  std::uint64_t mantissa = bits & ((std::uint64_t{1} << 52) - 1);
  if (biased != 0) mantissa |= std::uint64_t{1} << 52;
  int shift = 1075 - (biased != 0 ? biased : 1);
  // mantissa * 100 is below 2^60.
  std::uint64_t scaled = mantissa * 100, hundredths = 0;
  if (shift < 61) {
    std::uint64_t rest = scaled & ((std::uint64_t{1} << shift) - 1),
                  half = std::uint64_t{1} << (shift - 1);
    hundredths = scaled >> shift;
    if (rest > half || (rest == half && (hundredths & 1) != 0)) ++hundredths;
  }  // else |value| * 100 < 1/2: the figure rounds to zero
  char* out = buffer.data();
  if (std::signbit(value)) *out++ = '-';
  out = std::to_chars(out, buffer.data() + buffer.size(), hundredths / 100).ptr;
  *out++ = '.';
  *out++ = static_cast<char>('0' + hundredths % 100 / 10);
  *out++ = static_cast<char>('0' + hundredths % 10);
  return {buffer.data(), static_cast<std::size_t>(out - buffer.data())};
}

// The base the running OS asks for, decided afresh on every call. Only "older than 10.6" is
// told apart: an unknown running version answers 0 and so gets the decimal base of every later
// release.
ByteBase currentByteBase() {
  return system::compareCurrentVersionWith("10.6") == -1 ? ByteBase::Binary : ByteBase::Decimal;
}

// `text` without `suffix` when it ends with it; a view of `text`.
std::string_view removingSuffix(std::string_view text, std::string_view suffix) {
  if (text.ends_with(suffix)) text.remove_suffix(suffix.size());
  return text;
}

}  // namespace

std::string_view unitWord(std::size_t steps) {
  return kUnitWords[steps < kUnitWords.size() ? steps : kUnitWords.size() - 1];
}

std::string bytesToText(double bytes, ByteBase base) {
  const double threshold = base == ByteBase::Binary ? 1024.0 : 1000.0;
  std::size_t steps = 0;
  if (bytes == std::numeric_limits<double>::infinity()) {
    // Infinity stays above the threshold after every step; the steps would never end. It is
    // shown as the limit they run towards, the last word of the table: "inf YB".
    steps = kUnitWords.size() - 1;
  } else if (base == ByteBase::Binary) {
    // 2^-10 is exact, so a multiplication scales without rounding.
    while (bytes > threshold) {
      bytes *= 0.0009765625;
      ++steps;
    }
  } else {
    while (bytes > threshold) {
      bytes /= 1000.0;
      ++steps;
    }
  }
  // Counts that need more than eight steps (above 10^27, or 2^90 in base 1024) keep scaling
  // the figure as every earlier step did while the word stays "YB": the text keeps its short
  // shape (10^30 bytes shows "1000 YB", 10^308 "100 YB") and the word table is never read past
  // its end. Such counts are far beyond any disk; a short text matters more than its unit.
  // NaN and -infinity are not above the threshold and show as "nan bytes", "-inf bytes".
  std::array<char, kFixedTextCapacity> buffer;
  bool small = std::fabs(bytes) < kTwoDecimalsFastLimit;  // false for NaN
  std::string_view figure =
      removingSuffix(small ? twoDecimalsText(bytes, buffer) : fixedText(bytes, 2, buffer), ".00");
  std::string_view word = unitWord(steps);
  std::string text;
  text.reserve(figure.size() + 1 + word.size());
  text.append(figure).append(1, ' ').append(word);
  return text;
}

std::string bytesText(std::optional<double> bytes) {
  return bytesToText(bytes.value_or(0.0), currentByteBase());
}

std::string roundedToMebibytesText(double& bytes) {
  // 2^-20 exactly: the floor is the count in whole mebibytes, rounded towards -infinity.
  double mebibytes = std::floor(bytes * 9.5367431640625e-7);
  std::array<char, kFixedTextCapacity> buffer;
  std::string text(fixedText(mebibytes, 0, buffer));
  text += 'M';
  bytes = mebibytes * 1048576.0;
  return text;
}

}  // namespace strandel::capacity
