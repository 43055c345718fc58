// Byte text, warm: the running version is already stored in the settings, so a conversion
// costs one settings read, the version comparison and the formatting. Two floors are measured
// in the same run: snprintf("%.2f") of the unscaled count plus a blank and a unit word, and the
// honest one, what any byte text must do at the least: to_chars of the figure already scaled
// to its unit, with two decimals, a blank and the unit word, into a new string.
//
// Goal: the byte text within 1.5 times the to_chars floor.
// Run: bench/bench_ByteText --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <strandel/Machine.hpp>
#include <strandel/Strandel.hpp>

#include "bench/TemporaryFolder.hpp"
#include "platform/Machine.hpp"

namespace {

const double kCounts[] = {0, 999, 1536, 1234567, 500107862016, 4000787030016, 1099511627776, -5};
constexpr std::size_t kCountN = sizeof kCounts / sizeof kCounts[0];

// A machine image with no disks whose settings hold the running version, as a host's settings
// hold it after the first call.
struct WarmImage {
  strandel::bench::TemporaryFolder folder{"bytes"};
  const std::filesystem::path& dir = folder.path();
  WarmImage() {
    std::filesystem::create_directories(dir / "root/tmp");
    std::ofstream(dir / "machine.plist")
        << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">"
           "<dict><key>Registry</key><array/><key>Mounts</key><array/></dict></plist>\n";
    if (auto error = strandel::useMachine(dir.string())) {
      std::fprintf(stderr, "%s\n", error->c_str());
      std::exit(1);
    }
    strandel::platform::current()->settings().set("ZVCurrentSWVers",
                                                  strandel::PlistValue("10.15.7"));
  }
};

void BM_ConvertBytesToStringValue(benchmark::State& state) {
  static WarmImage image;
  std::size_t i = 0;
  for (auto _ : state) {
    std::string text = strandel::ZVFoundationConvertBytesToStringValue(kCounts[i++ % kCountN]);
    benchmark::DoNotOptimize(text);
  }
}
BENCHMARK(BM_ConvertBytesToStringValue);

void BM_FloorSnprintfAndWord(benchmark::State& state) {
  static const char* const kWords[] = {"bytes", "KB", "MB", "GB", "TB"};
  std::size_t i = 0;
  for (auto _ : state) {
    double x = kCounts[i % kCountN];
    char figure[32];
    std::snprintf(figure, sizeof figure, "%.2f", x);
    std::string text = figure;
    text += ' ';
    text += kWords[i++ % 5];
    benchmark::DoNotOptimize(text);
  }
}
BENCHMARK(BM_FloorSnprintfAndWord);

// The same counts scaled in base 1000 beforehand, with their words.
struct Scaled {
  double figure;
  const char* word;
};
Scaled scaled(double count) {
  static const char* const kWords[] = {"bytes", "KB", "MB", "GB", "TB"};
  std::size_t steps = 0;
  while (count > 1000.0 && steps < 4) {
    count /= 1000.0;
    ++steps;
  }
  return {count, kWords[steps]};
}

void BM_FloorToCharsScaled(benchmark::State& state) {
  Scaled figures[kCountN];
  for (std::size_t k = 0; k < kCountN; ++k) figures[k] = scaled(kCounts[k]);
  std::size_t i = 0;
  for (auto _ : state) {
    const Scaled& at = figures[i++ % kCountN];
    char figure[32];
    auto written =
        std::to_chars(figure, figure + sizeof figure, at.figure, std::chars_format::fixed, 2);
    std::string text(figure, written.ptr);
    text += ' ';
    text += at.word;
    benchmark::DoNotOptimize(text);
  }
}
BENCHMARK(BM_FloorToCharsScaled);

// The version comparison alone, the part of a conversion that the floor has no counterpart of.
void BM_VersionComparison(benchmark::State& state) {
  static WarmImage image;
  for (auto _ : state)
    benchmark::DoNotOptimize(strandel::ZVCompareCurrentSystemVersionWith("10.6"));
}
BENCHMARK(BM_VersionComparison);

void BM_RoundByteCountToMB(benchmark::State& state) {
  std::size_t i = 0;
  for (auto _ : state) {
    double count = kCounts[i++ % kCountN];
    std::string text = strandel::ZVFoundationRoundByteCountToMBAndString(count);
    benchmark::DoNotOptimize(text);
    benchmark::DoNotOptimize(count);
  }
}
BENCHMARK(BM_RoundByteCountToMB);

}  // namespace
