// Our property-list writer, in both forms, against libplist's building and writing of the same
// value.
//
// Goals (Release build, medians of 3 repetitions):
//   - BM_Write<Form>/10000 and /80000 (keys in one dictionary): time per key about the same,
//     that is linear in size; libplist's dictionary insert made 80k keys take 1.5 s.
//   - BM_WriteBinary/80000 well under 0.1 x BM_LibplistWrite/80000.
//
//   build-rel/bench/bench_PlistWrite --benchmark_repetitions=3
//   --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <plist/plist.h>

#include <string>

#include <strandel/PlistValue.hpp>

#include "bench/LibplistNode.hpp"

namespace strandel::bench {
namespace {

// A dictionary of `keys` entries, each a small dictionary as a volume record holds.
PlistValue wideDictionary(int keys) {
  PlistDict dict;
  for (int i = 0; i < keys; ++i) {
    dict.emplace(
        "disk" + std::to_string(i) + "s1",
        PlistValue(PlistDict{{"DAMediaSize", PlistValue(std::uint64_t{500107862016} + i)},
                             {"DAVolumeName", PlistValue("Macintosh HD " + std::to_string(i))}}));
  }
  return PlistValue(std::move(dict));
}

template <bool binary>
void BM_Write(benchmark::State& state) {
  const PlistValue value = wideDictionary(static_cast<int>(state.range(0)));
  std::size_t bytes = 0;
  for (auto _ : state) {
    std::string out = binary ? writeBinaryPlist(value) : writeXmlPlist(value);
    bytes = out.size();
    benchmark::DoNotOptimize(out);
  }
  state.counters["bytes"] = static_cast<double>(bytes);
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_Write<true>)
    ->Name("BM_WriteBinary")
    ->Arg(10000)
    ->Arg(80000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity();
BENCHMARK(BM_Write<false>)
    ->Name("BM_WriteXml")
    ->Arg(10000)
    ->Arg(80000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity();

// The same value built as libplist's tree and written in binary, as the library once did.
void BM_LibplistWrite(benchmark::State& state) {
  const int keys = static_cast<int>(state.range(0));
  for (auto _ : state) {
    strandel::detail::LibplistNode dict(plist_new_dict());
    for (int i = 0; i < keys; ++i) {
      plist_t entry = plist_new_dict();
      plist_dict_set_item(entry, "DAMediaSize", plist_new_uint(500107862016ull + i));
      plist_dict_set_item(entry, "DAVolumeName",
                          plist_new_string(("Macintosh HD " + std::to_string(i)).c_str()));
      plist_dict_set_item(dict.get(), ("disk" + std::to_string(i) + "s1").c_str(), entry);
    }
    char* bytes = nullptr;
    std::uint32_t length = 0;
    plist_to_bin(dict.get(), &bytes, &length);
    plist_to_bin_free(bytes);
  }
}
BENCHMARK(BM_LibplistWrite)->Arg(10000)->Arg(80000)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
}  // namespace strandel::bench
