#include "text/NumericCompare.hpp"

#include <algorithm>

namespace strandel {
namespace {

bool isDigit(char c) noexcept { return c >= '0' && c <= '9'; }

// The end of the digit run that starts at `i`.
std::size_t digitRunEnd(std::string_view text, std::size_t i) noexcept {
  while (i < text.size() && isDigit(text[i])) ++i;
  return i;
}

// Compares two digit runs by value without converting them, so runs longer than any integer
// type still order correctly.
int compareDigitRuns(std::string_view a, std::string_view b) noexcept {
  a.remove_prefix(std::min(a.find_first_not_of('0'), a.size()));
  b.remove_prefix(std::min(b.find_first_not_of('0'), b.size()));
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  int order = a.compare(b);
  return order < 0 ? -1 : order > 0 ? 1 : 0;
}

}  // namespace

int numericCompare(std::string_view a, std::string_view b) noexcept {
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (isDigit(a[i]) && isDigit(b[j])) {
      std::size_t iEnd = digitRunEnd(a, i), jEnd = digitRunEnd(b, j);
      if (int order = compareDigitRuns(a.substr(i, iEnd - i), b.substr(j, jEnd - j))) return order;
      i = iEnd;
      j = jEnd;
      continue;
    }
    auto ca = static_cast<unsigned char>(a[i]), cb = static_cast<unsigned char>(b[j]);
    if (ca != cb) return ca < cb ? -1 : 1;
    ++i;
    ++j;
  }
  bool aDone = i == a.size(), bDone = j == b.size();
  if (aDone && bDone) return 0;
  return aDone ? -1 : 1;
}

}  // namespace strandel
