// A statfs-based size on the live host against a bare statfs(2) of the same path.
#include <benchmark/benchmark.h>

#include <sys/statfs.h>

#include <strandel/Machine.hpp>
#include <strandel/Strandel.hpp>

namespace {

const char* const kPaths[] = {"/", "/tmp", "/proc"};

void BM_FloorStatfs(benchmark::State& state) {
  const char* path = kPaths[state.range(0)];
  for (auto _ : state) {
    struct statfs figures;
    int result = ::statfs(path, &figures);
    double total = static_cast<double>(figures.f_frsize) * static_cast<double>(figures.f_blocks);
    benchmark::DoNotOptimize(result);
    benchmark::DoNotOptimize(total);
  }
  state.SetLabel(path);
}
BENCHMARK(BM_FloorStatfs)->DenseRange(0, 2);

void BM_VolTotalSize(benchmark::State& state) {
  strandel::useLiveMachine();
  const char* path = kPaths[state.range(0)];
  for (auto _ : state) benchmark::DoNotOptimize(strandel::ZVFoundationGetVolTotalSize(path));
  state.SetLabel(path);
}
BENCHMARK(BM_VolTotalSize)->DenseRange(0, 2);

void BM_VolUsedSize(benchmark::State& state) {
  strandel::useLiveMachine();
  const char* path = kPaths[state.range(0)];
  for (auto _ : state) benchmark::DoNotOptimize(strandel::ZVFoundationGetVolUsedSize(path));
  state.SetLabel(path);
}
BENCHMARK(BM_VolUsedSize)->DenseRange(0, 2);

}  // namespace
