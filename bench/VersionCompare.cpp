// A warm ZVCompareCurrentSystemVersionWith (the running version already in the settings)
// against two floors measured in the same run: the library's own digit-run comparison of the
// two texts (the difference is the settings read and the argument's trim), and the honest floor
// of any version comparison, a tight loop that reads both texts once, digit runs as numbers.
//
// Goal: each warm comparison within four times the tight loop on the same texts (the loop is
// handed the argument already trimmed, so the trim counts against the comparison).
// Run: bench/bench_VersionCompare --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include <strandel/Machine.hpp>
#include <strandel/Strandel.hpp>

#include "bench/TemporaryFolder.hpp"
#include "system/VersionCompare.hpp"

namespace strandel::bench {
namespace {

const std::string kRunning = "10.14.6";

struct Image {
  TemporaryFolder folder{"version"};
  const std::filesystem::path& dir = folder.path();
  Image() {
    std::filesystem::create_directories(dir / "root/usr/bin");
    std::filesystem::create_directories(dir / "root/tmp");
    std::ofstream(dir / "machine.plist") << writeXmlPlist(
        PlistDict{{"Registry", PlistValue(PlistArray{})}, {"Mounts", PlistValue(PlistArray{})}});
    std::ofstream(dir / "root/usr/bin/sw_vers") << "#!/bin/sh\necho " << kRunning << "\n";
    std::filesystem::permissions(dir / "root/usr/bin/sw_vers", std::filesystem::perms(0755));
    if (useMachine(dir.string())) std::abort();
    if (ZVGetCurrentSystemString() != kRunning) std::abort();
  }
};

void warm() { static const Image image; }

void BM_WarmCompare(benchmark::State& state, const char* argument) {
  warm();
  std::string version = argument;
  for (auto _ : state) {
    benchmark::DoNotOptimize(version);
    benchmark::DoNotOptimize(ZVCompareCurrentSystemVersionWith(version));
  }
}

// `argument` as the comparison sees it once trimmed.
void BM_BareCompare(benchmark::State& state, const char* argument) {
  std::string running = kRunning;
  std::string version = argument;
  for (auto _ : state) {
    benchmark::DoNotOptimize(running);
    benchmark::DoNotOptimize(version);
    benchmark::DoNotOptimize(strandel::system::compareVersionTexts(running, version));
  }
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The floor: one pass over both texts, each digit run read as a number (a version's runs are
// short), every other byte compared as it is.
int tightDigitCompare(std::string_view a, std::string_view b) {
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (isDigit(a[i]) && isDigit(b[j])) {
      std::uint64_t x = 0, y = 0;
      while (i < a.size() && isDigit(a[i])) x = x * 10 + static_cast<unsigned>(a[i++] - '0');
      while (j < b.size() && isDigit(b[j])) y = y * 10 + static_cast<unsigned>(b[j++] - '0');
      if (x != y) return x < y ? -1 : 1;
      continue;
    }
    if (a[i] != b[j])
      return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]) ? -1 : 1;
    ++i;
    ++j;
  }
  return (i < a.size()) - (j < b.size());
}

void BM_FloorTightLoop(benchmark::State& state, const char* argument) {
  std::string running = kRunning;
  std::string version = argument;
  if (tightDigitCompare(running, version) !=
      strandel::system::compareVersionTexts(running, version))
    state.SkipWithError("the floor disagrees");
  for (auto _ : state) {
    benchmark::DoNotOptimize(running);
    benchmark::DoNotOptimize(version);
    benchmark::DoNotOptimize(tightDigitCompare(running, version));
  }
}

// The gates the library itself asks, the running version itself, and an argument with words
// around it (compared bare in its trimmed form).
BENCHMARK_CAPTURE(BM_WarmCompare, gate_10_12, "10.12");
BENCHMARK_CAPTURE(BM_BareCompare, gate_10_12, "10.12");
BENCHMARK_CAPTURE(BM_FloorTightLoop, gate_10_12, "10.12");
BENCHMARK_CAPTURE(BM_WarmCompare, gate_10_13, "10.13");
BENCHMARK_CAPTURE(BM_BareCompare, gate_10_13, "10.13");
BENCHMARK_CAPTURE(BM_FloorTightLoop, gate_10_13, "10.13");
BENCHMARK_CAPTURE(BM_WarmCompare, same_10_14_6, "10.14.6");
BENCHMARK_CAPTURE(BM_BareCompare, same_10_14_6, "10.14.6");
BENCHMARK_CAPTURE(BM_FloorTightLoop, same_10_14_6, "10.14.6");
BENCHMARK_CAPTURE(BM_WarmCompare, words_macOS_10_14_6_beta, "macOS 10.14.6 beta");
BENCHMARK_CAPTURE(BM_BareCompare, words_macOS_10_14_6_beta, "10.14.6");
BENCHMARK_CAPTURE(BM_FloorTightLoop, words_macOS_10_14_6_beta, "10.14.6");

}  // namespace
}  // namespace strandel::bench
