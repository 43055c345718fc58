#include "text/NumericCompare.hpp"

namespace strandel::text {
namespace {

bool isDigit(char c) noexcept { return static_cast<unsigned char>(c - '0') <= 9; }

}  // namespace

// One pass over both texts. Two digit runs are walked side by side after their leading zeros:
// the longer run is the larger number, and between runs of one length the first digit that
// differs decides. No run is converted, so runs longer than any integer type order correctly.
int numericCompare(std::string_view a, std::string_view b) noexcept {
  const std::size_t aSize = a.size(), bSize = b.size();
  std::size_t i = 0, j = 0;
  while (i < aSize && j < bSize) {
    char ca = a[i], cb = b[j];
    if (!isDigit(ca) || !isDigit(cb)) {
      if (ca != cb) return static_cast<unsigned char>(ca) < static_cast<unsigned char>(cb) ? -1 : 1;
      ++i;
      ++j;
      continue;
    }
    while (i < aSize && a[i] == '0') ++i;
    while (j < bSize && b[j] == '0') ++j;
    int firstDifference = 0;
    for (; i < aSize && j < bSize && isDigit(a[i]) && isDigit(b[j]); ++i, ++j) {
      if (firstDifference == 0 && a[i] != b[j]) firstDifference = a[i] < b[j] ? -1 : 1;
    }
    bool aLonger = i < aSize && isDigit(a[i]), bLonger = j < bSize && isDigit(b[j]);
    if (aLonger != bLonger) return aLonger ? 1 : -1;
    if (firstDifference != 0) return firstDifference;
  }
  bool aDone = i == aSize, bDone = j == bSize;
  if (aDone && bDone) return 0;
  return aDone ? -1 : 1;
}

}  // namespace strandel::text
