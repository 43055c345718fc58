// A warm ZVCompareCurrentSystemVersionWith (the running version already in the settings)
// against the bare digit-run comparison of the same two texts: the difference is the settings
// read and the argument's trim.
#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <strandel/Machine.hpp>
#include <strandel/Strandel.hpp>

#include "system/VersionCompare.hpp"

namespace {

using namespace strandel;

const std::string kRunning = "10.14.6";

struct Image {
  std::filesystem::path dir;
  Image() {
    char pattern[] = "/tmp/strandel-bench-version-XXXXXX";
    dir = ::mkdtemp(pattern);
    std::filesystem::create_directories(dir / "root/usr/bin");
    std::filesystem::create_directories(dir / "root/tmp");
    std::ofstream(dir / "machine.plist")
        << writeXmlPlist(PlistDict{{"Registry", PlistValue(PlistArray{})}, {"Mounts", PlistValue(PlistArray{})}});
    std::ofstream(dir / "root/usr/bin/sw_vers") << "#!/bin/sh\necho " << kRunning << "\n";
    std::filesystem::permissions(dir / "root/usr/bin/sw_vers", std::filesystem::perms(0755));
    if (useMachine(dir.string())) std::abort();
    if (ZVGetCurrentSystemString() != kRunning) std::abort();
  }
  ~Image() { std::filesystem::remove_all(dir); }
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
    benchmark::DoNotOptimize(compareVersionTexts(running, version));
  }
}

// The gates the library itself asks, the running version itself, and an argument with words
// around it (compared bare in its trimmed form).
BENCHMARK_CAPTURE(BM_WarmCompare, gate_10_12, "10.12");
BENCHMARK_CAPTURE(BM_BareCompare, gate_10_12, "10.12");
BENCHMARK_CAPTURE(BM_WarmCompare, gate_10_13, "10.13");
BENCHMARK_CAPTURE(BM_BareCompare, gate_10_13, "10.13");
BENCHMARK_CAPTURE(BM_WarmCompare, same_10_14_6, "10.14.6");
BENCHMARK_CAPTURE(BM_BareCompare, same_10_14_6, "10.14.6");
BENCHMARK_CAPTURE(BM_WarmCompare, words_macOS_10_14_6_beta, "macOS 10.14.6 beta");
BENCHMARK_CAPTURE(BM_BareCompare, words_macOS_10_14_6_beta, "10.14.6");

}  // namespace
