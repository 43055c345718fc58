// The volume list on generated machines of 1,000 and 10,000 media objects (100 and 1,000 APFS
// containers, each on its own whole disk and partition, seven volumes apiece), against two
// floors measured in the same run: a loop that walks the same registry and copies every media
// object's description, and the honest floor of any list, a loop that walks the registry and
// reads every description in place, every key and every string, with no copy.
//
// Goals: the list within three times the read-in-place walk at each size, and growth no faster
// than N log N.
//
// At 10k the descriptions alone (about 5 KB each) and the list it returns no longer fit in the
// processor's caches, so wall time grows faster than the work. The list's own work is counted
// in instructions with
//   valgrind --tool=callgrind --toggle-collect='strandel::StrandelFramework::volumeList()'
//     bench/bench_VolumeList --benchmark_filter='BM_VolumeList/1000$' --benchmark_min_time=0.01
// (and 10000$), then `callgrind_annotate --inclusive=yes`: it grows 10.2 times.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>

#include <strandel/Machine.hpp>
#include <strandel/Strandel.hpp>

#include "bench/GeneratedMachine.hpp"
#include "bench/TemporaryFolder.hpp"
#include "platform/Machine.hpp"

namespace {

using strandel::PlistDict;

class GeneratedImage {
 public:
  explicit GeneratedImage(int mediaObjects) {
    std::filesystem::create_directories(dir_ / "root/tmp");
    std::ofstream(dir_ / "machine.plist", std::ios::binary)
        << strandel::writeBinaryPlist(strandel::bench::generatedMachine(mediaObjects));
  }

  void use() const {
    if (auto error = strandel::useMachine(dir_.string())) {
      std::fprintf(stderr, "generated image refused: %s\n", error->c_str());
      std::exit(1);
    }
  }

 private:
  strandel::bench::TemporaryFolder folder_{"volumes"};
  const std::filesystem::path& dir_ = folder_.path();
};

const GeneratedImage& imageOf(int mediaObjects) {
  static std::map<int, std::unique_ptr<GeneratedImage>> images;
  auto& image = images[mediaObjects];
  if (!image) image = std::make_unique<GeneratedImage>(mediaObjects);
  return *image;
}

void BM_VolumeList(benchmark::State& state) {
  imageOf(static_cast<int>(state.range(0))).use();
  strandel::useBundle("");
  strandel::StrandelFramework framework;
  std::size_t records = 0;
  for (auto _ : state) {
    strandel::PlistArray list = framework.volumeList();
    records = list.size();
    benchmark::DoNotOptimize(list);
  }
  state.counters["records"] = static_cast<double>(records);
}
BENCHMARK(BM_VolumeList)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_FloorWalkAndCopyDescriptions(benchmark::State& state) {
  imageOf(static_cast<int>(state.range(0))).use();
  auto machine = strandel::platform::current();
  auto& registry = machine->registry();
  std::size_t described = 0;
  for (auto _ : state) {
    described = 0;
    for (auto object : registry.mediaObjects()) {
      // The floor copies each description, as a list that owned its own copies would.
      auto shared = registry.description(object);
      if (!shared) continue;
      PlistDict description = *shared;
      ++described;
      benchmark::DoNotOptimize(description);
    }
  }
  state.counters["media"] = static_cast<double>(described);
}
BENCHMARK(BM_FloorWalkAndCopyDescriptions)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

// The honest floor: reads every description in place, with no copy. Its growth from 1k to 10k
// also shows what the memory holding 10k descriptions costs any walk over them.
void BM_FloorWalkDescriptionsInPlace(benchmark::State& state) {
  imageOf(static_cast<int>(state.range(0))).use();
  auto machine = strandel::platform::current();
  auto& registry = machine->registry();
  for (auto _ : state) {
    std::size_t bytes = 0;
    for (auto object : registry.mediaObjects()) {
      auto description = registry.description(object);
      if (!description) continue;
      for (const auto& [key, value] : *description)
        bytes += key.size() + (value.asString() ? value.asString()->size() : 0);
    }
    benchmark::DoNotOptimize(bytes);
  }
}
BENCHMARK(BM_FloorWalkDescriptionsInPlace)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

// Not a floor: a copy of the finished list. A copy of a value shares its contents, so this is
// one counted pointer per record, where a deep copy (records, groups, texts) used to cost more
// than the in-place walk; handing the list on costs next to nothing beside building it.
void BM_CopyOfFinishedList(benchmark::State& state) {
  imageOf(static_cast<int>(state.range(0))).use();
  strandel::useBundle("");
  const strandel::PlistArray finished = strandel::StrandelFramework().volumeList();
  for (auto _ : state) {
    strandel::PlistArray copy = finished;
    benchmark::DoNotOptimize(copy);
  }
}
BENCHMARK(BM_CopyOfFinishedList)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace
