// The volume list on generated machines of 1,000 and 10,000 media objects (100 and 1,000 APFS
// containers, each on its own whole disk and partition, seven volumes apiece), against the
// least work of any list, measured in the same run in two parts: a walk that reads every
// description in place, every key and every string, and the building of the answer itself, the
// finished list made again (records, groups, members, the texts no description holds). A walk
// alone returns nothing; the answer alone costs about twice the walk.
//
// Goals: the list within three times the two parts together at each size, and growth no faster
// than N log N.
//
// At 10k the descriptions alone (about 5 KB each) and the list it returns no longer fit in the
// processor's caches, so wall time grows faster than the work. Instructions a call, the list's
// and each part's, with
//   valgrind --tool=callgrind --callgrind-out-file=cg.out bench/bench_VolumeList
//     --benchmark_filter='(BM_VolumeList|InPlace|BuildAnswer)/1000$' --benchmark_min_time=0.3
// then `callgrind_annotate --inclusive=yes --tree=caller cg.out`: the entries of volumeList,
// walkDescriptionsInPlace and buildAnswer, each divided by the calls from its own BM_ loop.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include <strandel/Machine.hpp>
#include <strandel/Strandel.hpp>
#include <strandel/VolumeKeys.hpp>

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

// The honest floor: reads every description in place, with no copy. Its growth from 1k to 10k
// also shows what the memory holding 10k descriptions costs any walk over them.
// Named and kept out of line, like the list, so that callgrind can count each one alone.
[[gnu::noinline]] std::size_t walkDescriptionsInPlace(strandel::platform::Registry& registry) {
  std::size_t bytes = 0;
  for (auto object : registry.mediaObjects()) {
    auto description = registry.description(object);
    if (!description) continue;
    for (const auto& [key, value] : *description)
      bytes += key.size() + (value.asString() ? value.asString()->size() : 0);
  }
  return bytes;
}

void BM_FloorWalkDescriptionsInPlace(benchmark::State& state) {
  imageOf(static_cast<int>(state.range(0))).use();
  auto machine = strandel::platform::current();
  for (auto _ : state) benchmark::DoNotOptimize(walkDescriptionsInPlace(machine->registry()));
}
BENCHMARK(BM_FloorWalkDescriptionsInPlace)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

// The least work of the answer itself, which no walk over the descriptions does: the same list
// made again from the finished one, every record, group and member a dictionary of its own
// (each group made once, as the list makes it once per container), with the texts that no
// description holds (device path, mount path, the two labels, a member's path) made afresh and
// the others shared. The list's own floor is this and the in-place walk together.
// Where a key lies in a dictionary of the answer: every record, group and member has the same
// keys, so the floor puts values by position, as the list does, and never searches.
std::size_t positionOf(const PlistDict& dict, std::string_view key) {
  return static_cast<std::size_t>(dict.find(key) - dict.begin());
}

[[gnu::noinline]] strandel::PlistArray buildAnswer(const strandel::PlistArray& finished) {
  strandel::PlistArray list;
  if (finished.empty()) return list;
  const PlistDict& first = *finished.front().asDictionary();
  const PlistDict& firstGroup = *first.find(strandel::kVolumeGroup)->second.asDictionary();
  const std::size_t fresh[] = {
      positionOf(first, strandel::kVolumeDevicePath), positionOf(first, strandel::kVolumePath),
      positionOf(first, strandel::kVolumeTooltip), positionOf(first, strandel::kVolumeNameSize)};
  const std::size_t groupAt = positionOf(first, strandel::kVolumeGroup),
                    volumesAt = positionOf(firstGroup, strandel::kGroupVolumes);
  std::optional<std::size_t> volpathAt;  // known at the first member
  auto afresh = [](PlistDict& dict, std::size_t at) {
    strandel::PlistValue& value = (dict.begin() + at)->second;
    if (const std::string* text = value.asString()) value = std::string(*text);
  };

  list.reserve(finished.size());
  const PlistDict* lastGroup = nullptr;
  strandel::PlistValue group;
  for (const strandel::PlistValue& record : finished) {
    const PlistDict& from = *record.asDictionary();
    PlistDict copy = from;
    for (std::size_t at : fresh) afresh(copy, at);
    // The records of one container lie together in the list and share its group.
    const PlistDict* fromGroup = (from.begin() + groupAt)->second.asDictionary();
    if (fromGroup != lastGroup) {
      lastGroup = fromGroup;
      PlistDict made = *fromGroup;
      strandel::PlistArray members;
      for (const strandel::PlistValue& member :
           *(fromGroup->begin() + volumesAt)->second.asArray()) {
        PlistDict memberCopy = *member.asDictionary();
        if (!volpathAt) volpathAt = positionOf(memberCopy, strandel::kMemberVolpath);
        afresh(memberCopy, *volpathAt);
        members.emplace_back(std::move(memberCopy));
      }
      (made.begin() + volumesAt)->second = std::move(members);
      group = std::move(made);
    }
    (copy.begin() + groupAt)->second = group;
    list.emplace_back(std::move(copy));
  }
  return list;
}

void BM_FloorBuildAnswer(benchmark::State& state) {
  imageOf(static_cast<int>(state.range(0))).use();
  strandel::useBundle("");
  const strandel::PlistArray finished = strandel::StrandelFramework().volumeList();
  for (auto _ : state) {
    strandel::PlistArray list = buildAnswer(finished);
    benchmark::DoNotOptimize(list);
  }
}
BENCHMARK(BM_FloorBuildAnswer)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

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
