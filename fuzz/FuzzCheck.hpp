// What the fuzz targets share: the check that stops a run on a broken invariant, and the
// input as text.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace strandel::fuzz {

/// Stops the run with `what` on stderr when `holds` is false; libFuzzer keeps the input.
inline void check(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

/// The fuzz input as bytes of text.
inline std::string_view textOf(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

}  // namespace strandel::fuzz
