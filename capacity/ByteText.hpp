// Byte counts as display text.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace strandel::capacity {

/// The unit base of the byte text: steps of 1000 (OS 10.6 and later) or 1024 (older).
enum class ByteBase { Decimal, Binary };

/// The unit word after `steps` scaling steps: "bytes", "KB", ... "YB"; "YB" from 8 steps on.
std::string_view unitWord(std::size_t steps);

/// `bytes` as a figure with two decimals (".00" dropped), one blank and the unit word of the
/// steps taken while the figure is above the base.
std::string bytesToText(double bytes, ByteBase base);

/// A byte count as a figure and a unit word ("500.11 GB") in the base the running OS asks for.
/// An absent count reads as 0.
std::string bytesText(std::optional<double> bytes);

/// Rounds `bytes` down to whole mebibytes, stores the rounded count back into it and gives the
/// mebibytes followed by "M" ("476940M").
std::string roundedToMebibytesText(double& bytes);

}  // namespace strandel::capacity
