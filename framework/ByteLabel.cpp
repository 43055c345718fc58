#include "framework/ByteLabel.hpp"

#include <array>
#include <charconv>
#include <cmath>

#include <strandel/StrandelFramework.hpp>

#include "platform/Machine.hpp"

namespace strandel {
namespace {

constexpr std::array<std::string_view, 9> kUnitWords = {"bytes", "KB", "MB", "GB", "TB",
                                                        "PB",    "EB", "ZB", "YB"};
constexpr int kLargestUnit = static_cast<int>(kUnitWords.size()) - 1;

}  // namespace

framework::ByteLabelParts framework::byteLabelParts(double bytes) noexcept {
  framework::ByteLabelParts parts{bytes, 0, kUnitWords[0]};
  if (!(bytes > 0)) return parts;
  // Counts outside the unit table are clamped into it, and the figure is scaled by the unit
  // actually shown, so the label always reads true: 0.001 or less stays "bytes" with no
  // decimals (as every count below 1 does, "0 bytes"), and 10^27 or more is told in "YB"
  // ("1000.00 YB", "inf YB"). Clamping before the conversion also keeps an infinite count
  // from being turned into an integer.
  double exponent = std::log10(bytes) / 3.0;
  int unit = exponent >= kLargestUnit ? kLargestUnit
             : exponent <= 0          ? 0
                                      : static_cast<int>(exponent);
  parts.figure = bytes / std::pow(1000.0, unit);
  parts.decimals = unit > 0 ? 2 : 0;
  parts.unitWord = kUnitWords[static_cast<std::size_t>(unit)];
  return parts;
}

std::string framework::formatByteLabel(const framework::ByteLabelParts& parts,
                                       std::string_view unitLabel) {
  std::string figure;
  if (std::isnan(parts.figure)) {
    // A NaN may carry a sign ("-nan"); a count that is not a number has none.
    figure = "nan";
  } else {
    // to_chars gives the digits "%.*f" gives, but never through the locale: a host that has
    // set a comma-decimal locale still gets "1.54 KB". The buffer holds the longest double
    // with two decimals (a sign, 309 digits, the point and the decimals).
    char buffer[320];
    auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, parts.figure,
                                      std::chars_format::fixed, parts.decimals);
    figure.assign(buffer, error == std::errc() ? end : buffer);
  }
  figure += ' ';
  figure += unitLabel;
  return figure;
}

std::string StrandelFramework::unitizedBytes(double bytes) {
  framework::ByteLabelParts parts = framework::byteLabelParts(bytes);
  return framework::formatByteLabel(
      parts, platform::current()->localizer().localized(parts.unitWord, "ZorvikLocal"));
}

}  // namespace strandel
