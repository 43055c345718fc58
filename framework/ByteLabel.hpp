// The byte label of the framework object ("500.11 GB"), split so that the volume list can
// translate the unit word through its own per-call lookups.
#pragma once

#include <string>
#include <string_view>

namespace strandel::framework {

/// A byte count scaled to its unit: the figure, its number of decimals and the unit word
/// (untranslated, one of "bytes" to "YB").
struct ByteLabelParts {
  double figure = 0;
  int decimals = 0;
  std::string_view unitWord;
};

/// The figure, decimals and unit word of `bytes` in decimal units: the unit index is
/// log10(bytes) / 3 truncated toward zero; counts that are not positive (NaN included) stay
/// whole bytes.
ByteLabelParts byteLabelParts(double bytes) noexcept;

/// The label: the figure with its decimals, one blank, then `unitLabel` (the translated word).
std::string formatByteLabel(const ByteLabelParts& parts, std::string_view unitLabel);

}  // namespace strandel::framework
