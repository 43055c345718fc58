// Our property-list reader against libplist's parse of the same bytes, and what an image load
// adds to our reader.
//
// Goals, each a ratio of two benchmarks of one run (Release build, medians of 5 repetitions):
//   - BM_OurRead/<form>/<size> <= 0.5 x BM_LibplistParse/<form>/<size>, for XML and binary at
//     5 KB and 5 MB: our parse straight into values against libplist's parse alone (its tree,
//     not yet converted); freeing the result is left out on both sides.
//   - BM_ImageLoad (parse and check of a 10,000-object image) <= 1.3 x BM_ImageRead (our parse
//     of the same bytes alone).
//   - BM_FlatBinaryImage/100000 and /1000000: time per entry about the same (linear in size);
//     a flat binary registry of 40k entries took libplist 9 s.
//
//   build-rel/bench/bench_PlistRead --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <plist/plist.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include <strandel/PlistValue.hpp>

#include "platform/image/MachinePlist.hpp"
#include "plist/PlistReader.hpp"

namespace {

using namespace strandel;

PlistDict media(const std::string& className, const std::string& bsd, bool volume) {
  PlistDict description{{"DAMediaBSDName", PlistValue(bsd)},
                        {"DAMediaSize", PlistValue(std::int64_t{500068036608})},
                        {"DAMediaContent", PlistValue("41504653-0000-11AA-AA11-00306543ECAC")},
                        {"DAMediaWhole", PlistValue(!volume)},
                        {"DADeviceInternal", PlistValue(true)},
                        {"DADeviceProtocol", PlistValue("Apple Fabric")},
                        {"DADeviceModel", PlistValue("APPLE SSD AP0512Z")},
                        {"DAMediaBlockSize", PlistValue(4096)}};
  PlistDict properties{{"BSD Name", PlistValue(bsd)}, {"Whole", PlistValue(!volume)}};
  if (volume) {
    description["DAVolumeKind"] = "apfs";
    description["DAVolumeName"] = "Volume " + bsd;
    description["DAVolumeUUID"] = "424fea98-2296-48fd-8dff-0866835572e9";
    description["DAVolumePath"] = "file:///Volumes/Volume%20" + bsd + "/";
    properties["Role"] = PlistArray{PlistValue("Data")};
  }
  return PlistDict{{"Class", PlistValue(className)},
                   {"Properties", PlistValue(std::move(properties))},
                   {"Description", PlistValue(std::move(description))}};
}

// One disk of ten registry objects: driver, whole disk, scheme, partition, APFS media,
// container and four volumes.
PlistValue disk(int index) {
  std::string whole = "disk" + std::to_string(2 * index), apfs = "disk" + std::to_string(2 * index + 1);
  PlistArray volumes;
  for (int slice = 1; slice <= 4; ++slice) volumes.push_back(media("AppleAPFSVolume", apfs + "s" + std::to_string(slice), true));
  PlistDict container{{"Class", PlistValue("AppleAPFSContainer")}, {"Children", PlistValue(std::move(volumes))}};
  PlistDict apfsMedia = media("AppleAPFSMedia", apfs, false);
  apfsMedia["Children"] = PlistArray{PlistValue(std::move(container))};
  PlistDict partition = media("IOMedia", whole + "s2", false);
  partition["Children"] = PlistArray{PlistValue(std::move(apfsMedia))};
  PlistDict scheme{{"Class", PlistValue("IOGUIDPartitionScheme")},
                   {"Children", PlistValue(PlistArray{PlistValue(std::move(partition))})}};
  PlistDict wholeDisk = media("IOMedia", whole, false);
  wholeDisk["Children"] = PlistArray{PlistValue(std::move(scheme))};
  return PlistDict{{"Class", PlistValue("IOBlockStorageDriver")},
                   {"Properties", PlistValue(PlistDict{{"ATAPI", PlistValue(false)}})},
                   {"Children", PlistValue(PlistArray{PlistValue(std::move(wholeDisk))})}};
}

PlistValue image(int disks) {
  PlistArray registry;
  for (int i = 0; i < disks; ++i) registry.push_back(disk(i));
  return PlistDict{{"Registry", PlistValue(std::move(registry))}, {"Mounts", PlistValue(PlistArray{})}};
}

// A list of about `bytes` in the form asked for: disks are added until the size is reached.
const std::string& listOf(bool binary, std::size_t bytes) {
  static std::map<std::pair<bool, std::size_t>, std::string> made;
  std::string& out = made[{binary, bytes}];
  if (out.empty()) {
    std::size_t perDisk = (binary ? writeBinaryPlist(image(10)) : writeXmlPlist(image(10))).size() / 10;
    int disks = static_cast<int>(bytes / perDisk) + 1;
    out = binary ? writeBinaryPlist(image(disks)) : writeXmlPlist(image(disks));
  }
  return out;
}

void setLabel(benchmark::State& state, const std::string& bytes) {
  state.SetLabel(std::to_string(bytes.size() / 1024) + " KiB");
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
}

void BM_OurRead(benchmark::State& state) {
  const std::string& bytes = listOf(state.range(0) != 0, static_cast<std::size_t>(state.range(1)));
  for (auto _ : state) {
    auto value = readPlist(bytes);
    if (!value) state.SkipWithError("refused");
    benchmark::DoNotOptimize(value);
    state.PauseTiming();  // freeing is not parsing, on either side
    value.reset();
    state.ResumeTiming();
  }
  setLabel(state, bytes);
}

void BM_LibplistParse(benchmark::State& state) {
  const std::string& bytes = listOf(state.range(0) != 0, static_cast<std::size_t>(state.range(1)));
  for (auto _ : state) {
    plist_t root = nullptr;
    plist_from_memory(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &root);
    if (!root) state.SkipWithError("refused");
    benchmark::DoNotOptimize(root);
    state.PauseTiming();
    plist_free(root);
    state.ResumeTiming();
  }
  setLabel(state, bytes);
}

// Arguments: form (0 XML, 1 binary), size in bytes.
void sizes(benchmark::internal::Benchmark* b) {
  for (int binary : {0, 1})
    for (int bytes : {5 << 10, 5 << 20}) b->Args({binary, bytes});
  b->ArgNames({"binary", "bytes"})->Unit(benchmark::kMillisecond);
}
BENCHMARK(BM_OurRead)->Apply(sizes);
BENCHMARK(BM_LibplistParse)->Apply(sizes);

const std::string& image10k() {
  static const std::string bytes = writeBinaryPlist(image(1000));
  return bytes;
}

void BM_ImageRead(benchmark::State& state) {
  image10k();
  for (auto _ : state) benchmark::DoNotOptimize(readPlist(image10k()));
  setLabel(state, image10k());
}
BENCHMARK(BM_ImageRead)->Unit(benchmark::kMillisecond);

void BM_ImageLoad(benchmark::State& state) {
  image10k();
  for (auto _ : state) {
    auto loaded = platform::image::parseMachinePlist(image10k());
    if (!loaded.plist) state.SkipWithError(loaded.error.c_str());
    benchmark::DoNotOptimize(loaded);
  }
  setLabel(state, image10k());
}
BENCHMARK(BM_ImageLoad)->Unit(benchmark::kMillisecond);

// A flat registry: `entries` media objects side by side, as a binary list.
void BM_FlatBinaryImage(benchmark::State& state) {
  const auto entries = static_cast<int>(state.range(0));
  PlistArray registry;
  registry.reserve(static_cast<std::size_t>(entries));
  for (int i = 0; i < entries; ++i) registry.push_back(media("IOMedia", "disk" + std::to_string(i), false));
  const std::string bytes =
      writeBinaryPlist(PlistDict{{"Registry", PlistValue(std::move(registry))}, {"Mounts", PlistValue(PlistArray{})}});
  for (auto _ : state) {
    auto loaded = platform::image::parseMachinePlist(bytes);
    if (!loaded.plist) state.SkipWithError(loaded.error.c_str());
    benchmark::DoNotOptimize(loaded);
  }
  state.SetItemsProcessed(state.iterations() * entries);
  setLabel(state, bytes);
}
BENCHMARK(BM_FlatBinaryImage)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
