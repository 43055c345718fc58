// Our property-list reader against its floor (BM_FloorWalk: a byte scan of XML, an object walk
// of a binary list) and against libplist's parse of the same bytes, a peer; and what an image
// load adds to our reader.
//
// Goals, each a ratio of two benchmarks of one run (Release build, medians of 5 repetitions):
//   - BM_OurRead/<form>/<size> <= 0.5 x BM_LibplistParse/<form>/<size>, for XML and binary at
//     5 KB and 5 MB: our parse straight into values against libplist's parse alone (its tree,
//     not yet converted); freeing the result is left out on both sides.
//   - BM_ImageLoad (parse and check of a 10,000-object image) <= 1.3 x BM_ImageRead (our parse
//     of the same bytes alone).
//   - BM_HostileRefused: the 358-byte list of arrays each naming the next twice, and 200,000
//     nested arrays in each form, refused well within 50 ms (and 64 MB: the budget allows the
//     chain at most 1 MB of text).
//   - BM_FlatBinaryImage/100000 and /1000000: time per entry about the same (linear in size);
//     a flat binary registry of 40k entries took libplist 9 s.
//
//   build-rel/bench/bench_PlistRead --benchmark_repetitions=5
//   --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <plist/plist.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <strandel/PlistValue.hpp>

#include "bench/GeneratedMachine.hpp"
#include "bench/LibplistNode.hpp"
#include "machineimage/MachinePlist.hpp"
#include "plist/PlistReader.hpp"
#include "tests/support/BinaryPlist.hpp"

namespace strandel::bench {
namespace {

// The machine.plist value of `disks` generated disks.
PlistValue image(int disks) { return bench::generatedMachine(disks * bench::kMediaPerContainer); }

// A list of about `bytes` in the form asked for: disks are added until the size is reached.
const std::string& listOf(bool binary, std::size_t bytes) {
  static std::map<std::pair<bool, std::size_t>, std::string> made;
  std::string& out = made[{binary, bytes}];
  if (out.empty()) {
    std::size_t perDisk =
        (binary ? writeBinaryPlist(image(10)) : writeXmlPlist(image(10))).size() / 10;
    int disks = static_cast<int>(bytes / perDisk) + 1;
    out = binary ? writeBinaryPlist(image(disks)) : writeXmlPlist(image(disks));
  }
  return out;
}

void setLabel(benchmark::State& state, const std::string& bytes) {
  state.SetLabel(std::to_string(bytes.size() / 1024).append(" KiB"));
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
    strandel::detail::LibplistNode root;
    plist_from_memory(bytes.data(), static_cast<std::uint32_t>(bytes.size()), root.receive());
    if (!root) state.SkipWithError("refused");
    benchmark::DoNotOptimize(root.get());
    state.PauseTiming();
    root.reset();
    state.ResumeTiming();
  }
  setLabel(state, bytes);
}

// The least work any reader of these bytes does, its floor: for XML a scan of every byte for the
// start of a tag; for a binary list a walk of its offset table to each object's marker byte.
std::size_t floorWalk(const std::string& bytes, bool binary) {
  if (!binary) {
    std::size_t tags = 0;
    for (const char *at = bytes.data(), *end = at + bytes.size();
         (at = static_cast<const char*>(
              std::memchr(at, '<', static_cast<std::size_t>(end - at)))) != nullptr;
         ++at) {
      ++tags;
    }
    return tags;
  }
  auto bigEndian = [&](std::size_t at, std::size_t width) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < width; ++i)
      value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    return value;
  };
  std::size_t trailer = bytes.size() - 32;
  std::size_t offsetWidth = static_cast<unsigned char>(bytes[trailer + 6]);
  std::uint64_t objects = bigEndian(trailer + 8, 8);
  std::uint64_t table = bigEndian(trailer + 24, 8);
  std::size_t markers = 0;
  for (std::uint64_t i = 0; i < objects; ++i) {
    markers +=
        static_cast<unsigned char>(bytes[bigEndian(table + i * offsetWidth, offsetWidth)]) >> 4;
  }
  return markers;
}

void BM_FloorWalk(benchmark::State& state) {
  const std::string& bytes = listOf(state.range(0) != 0, static_cast<std::size_t>(state.range(1)));
  for (auto _ : state) benchmark::DoNotOptimize(floorWalk(bytes, state.range(0) != 0));
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
BENCHMARK(BM_FloorWalk)->Apply(sizes);

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
    auto loaded = machineimage::parseMachinePlist(image10k());
    if (!loaded.plist) state.SkipWithError(loaded.error.c_str());
    benchmark::DoNotOptimize(loaded);
  }
  setLabel(state, image10k());
}
BENCHMARK(BM_ImageLoad)->Unit(benchmark::kMillisecond);

const std::string& hostile(int which) {
  static const std::string shapes[] = {
      testing::sharedChain(79),
      testing::nestedBinaryArrays(200000),
      [] {
        std::string out = "<plist>";
        for (int i = 0; i < 200000; ++i) out += "<array>";
        return out;
      }(),
  };
  return shapes[which];
}

void BM_HostileRefused(benchmark::State& state) {
  const std::string& bytes = hostile(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    auto read = strandel::plist::readPlistExplained(bytes);
    if (read.value) state.SkipWithError("read");
    benchmark::DoNotOptimize(read);
  }
  state.SetLabel(std::to_string(bytes.size()).append(" bytes"));
}
// 0: the shared chain, 1: nested binary arrays, 2: nested XML arrays.
BENCHMARK(BM_HostileRefused)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

// A flat registry of `entries` media objects side by side, as a binary list written here
// directly (the writer is far slower than the reader at this size): every entry is
// {Class: IOMedia, Properties: {BSD Name: diskN, Whole: true}}, the keys and fixed values shared.
std::string flatBinaryImage(std::uint32_t entries) {
  std::string out = "bplist00";
  std::vector<std::uint64_t> offsets;
  auto put = [&](std::uint64_t value, int bytes) {
    for (int i = bytes; i-- > 0;) out += static_cast<char>(value >> (8 * i) & 0xFF);
  };
  auto ref = [&](std::uint64_t index) { put(index, 3); };
  auto object = [&] { offsets.push_back(out.size()); };
  auto text = [&](const std::string& t) {
    object();
    out += static_cast<char>(0x50 | t.size());
    out += t;
  };
  object();  // 0: the top dictionary
  out += '\xD2';
  ref(2), ref(1), ref(4), ref(3);
  text("Registry"), text("Mounts");  // 1, 2
  object();                          // 3: the registry
  out += '\xAF';
  out += '\x12';
  put(entries, 4);
  for (std::uint32_t i = 0; i < entries; ++i) ref(11 + 3ull * i);
  object();  // 4: no mounts
  out += '\xA0';
  text("Class"), text("IOMedia"), text("Properties"), text("BSD Name"), text("Whole");  // 5 to 9
  object();                                                                             // 10
  out += '\x09';
  for (std::uint32_t i = 0; i < entries; ++i) {
    object();
    out += '\xD2';
    ref(5), ref(7), ref(6), ref(12 + 3ull * i);
    object();
    out += '\xD2';
    ref(8), ref(9), ref(13 + 3ull * i), ref(10);
    text("disk" + std::to_string(i));
  }
  const std::uint64_t table = out.size();
  for (std::uint64_t offset : offsets) put(offset, 4);
  out.append(6, '\0');
  put(4, 1), put(3, 1), put(offsets.size(), 8), put(0, 8), put(table, 8);
  return out;
}

void BM_FlatBinaryImage(benchmark::State& state) {
  const auto entries = static_cast<std::uint32_t>(state.range(0));
  const std::string bytes = flatBinaryImage(entries);
  for (auto _ : state) {
    auto loaded = machineimage::parseMachinePlist(bytes);
    if (!loaded.plist) state.SkipWithError(loaded.error.c_str());
    benchmark::DoNotOptimize(loaded);
  }
  state.SetItemsProcessed(state.iterations() * entries);
  setLabel(state, bytes);
}
BENCHMARK(BM_FlatBinaryImage)
    ->Arg(100000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

}  // namespace
}  // namespace strandel::bench
