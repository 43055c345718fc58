// Byte counts as text, over every double: the input is read as doubles and as 64-bit integers,
// and each count goes through the byte text of both bases, the framework's byte label and the
// rounding to mebibytes. NaN, infinities, the largest and the denormal doubles, negative counts:
// each must give a text that ends in a unit word of the table.
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include <strandel/Strandel.hpp>
#include <strandel/StrandelFramework.hpp>

#include "capacity/ByteText.hpp"
#include "framework/ByteLabel.hpp"
#include "fuzz/FuzzCheck.hpp"

namespace {

using strandel::fuzz::check;

constexpr std::array<std::string_view, 9> kUnitWords = {"bytes", "KB", "MB", "GB", "TB",
                                                        "PB",    "EB", "ZB", "YB"};

bool endsWithUnitWord(std::string_view text) {
  for (std::string_view word : kUnitWords)
    if (text.size() > word.size() && text.ends_with(word) &&
        text[text.size() - word.size() - 1] == ' ')
      return true;
  return false;
}

void checkCount(double bytes) {
  using strandel::capacity::ByteBase;
  for (ByteBase base : {ByteBase::Decimal, ByteBase::Binary}) {
    std::string text = strandel::capacity::bytesToText(bytes, base);
    check(endsWithUnitWord(text), "a byte text ends with a unit word");
    // The figure is at most the longest fixed-point double: a sign, 309 digits and decimals.
    check(text.size() < 330, "a byte text is bounded");
  }

  // Below the first step the figure is the count itself, and its two decimals must be exactly
  // those of the general fixed-point conversion, ".00" dropped.
  if (!(bytes > 1000.0) && std::fabs(bytes) < 0x1p40) {
    char figure[64];
    auto written =
        std::to_chars(figure, figure + sizeof figure, bytes, std::chars_format::fixed, 2);
    std::string want(figure, written.ptr);
    if (want.ends_with(".00")) want.resize(want.size() - 3);
    check(strandel::capacity::bytesToText(bytes, ByteBase::Decimal) == want + " bytes",
          "a byte text's figure is the fixed-point text of the count");
  }

  strandel::framework::ByteLabelParts parts = strandel::framework::byteLabelParts(bytes);
  check(parts.decimals == 0 || parts.decimals == 2, "a label has no or two decimals");
  bool known = false;
  for (std::string_view word : kUnitWords) known = known || parts.unitWord == word;
  check(known, "a label's unit word is one of the table");
  check(endsWithUnitWord(strandel::framework::formatByteLabel(parts, parts.unitWord)),
        "a label ends with its unit word");

  double rounded = bytes;
  std::string mebibytes = strandel::ZVFoundationRoundByteCountToMBAndString(rounded);
  check(!mebibytes.empty() && mebibytes.back() == 'M', "a mebibyte count ends with M");
  // Scaling by 2^-20 is exact while the scaled count stays a normal double; below that (counts
  // of about 2^-1000 bytes) it rounds, and -5e-324 bytes comes out as -0 mebibytes.
  if (std::isfinite(bytes) && std::fabs(bytes) >= 0x1p-1000) {
    check(rounded <= bytes, "rounding to mebibytes rounds down");
    check(bytes - rounded <= 1048576.0 || std::fabs(bytes) >= 0x1p73,
          "rounding to mebibytes drops less than one");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  for (std::size_t at = 0; at + 8 <= size; at += 8) {
    double real;
    std::memcpy(&real, data + at, 8);
    checkCount(real);
    std::int64_t integer;
    std::memcpy(&integer, data + at, 8);
    checkCount(static_cast<double>(integer));
    checkCount(static_cast<double>(static_cast<std::uint64_t>(integer)));
  }
  // The label through the framework object, whose unit word goes through the translation.
  if (size >= 8) {
    double real;
    std::memcpy(&real, data, 8);
    strandel::StrandelFramework framework;
    check(endsWithUnitWord(framework.unitizedBytes(real)),
          "the framework's label ends with a unit word");
  }
  return 0;
}
