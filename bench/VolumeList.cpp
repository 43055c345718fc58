// The volume list on generated machines of 1,000 and 10,000 media objects (100 and 1,000 APFS
// containers, each on its own whole disk and partition, seven volumes apiece), against a floor
// measured in the same run: a loop that only walks the same registry and copies every media
// object's description. The list should stay within three times the floor, and grow no faster
// than N log N.
//
// At 10k the descriptions alone (about 5 KB each) and the list it returns no longer fit in the
// processor's caches, so wall time grows faster than the work: the in-place walk below grows
// about 50 times from 1k to 10k. The list's own work is counted in instructions with
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

#include "platform/Machine.hpp"

namespace {

using strandel::PlistArray;
using strandel::PlistDict;
using strandel::PlistValue;

constexpr int kMediaPerContainer = 10;
constexpr const char* kApfsVolume = "41504653-0000-11AA-AA11-00306543ECAC";

std::string uuidFor(unsigned disk, unsigned slice) {
  char text[40];
  std::snprintf(text, sizeof text, "%08X-%04X-4%03X-A%03X-%012X", 0x5EEDu + disk, slice, disk % 4096, slice, disk * 7919u + slice);
  return text;
}

// A media object with the description the disk arbitration service gives: some thirty keys,
// most of which the list never reads, as in a real one.
PlistDict media(const std::string& bsd, std::uint64_t size, const char* content, bool whole, bool internal) {
  static std::uint32_t minor = 0;
  ++minor;
  std::string unit = bsd.substr(4, bsd.find('s', 4) - 4);
  std::string path = internal ? "IOService:/AppleACPIPlatformExpert/PCI0@0/AppleACPIPCI/RP09@1D/IOPP/SSD0@0/IONVMeController"
                              : "IOService:/AppleACPIPlatformExpert/PCI0@0/AppleACPIPCI/XHC1@14/XHC1@14000000/HS01@14100000";
  PlistDict description{
      {"DAAppearanceTime", PlistValue(632061129.279307)},
      {"DABusName", PlistValue(internal ? "IOAPCI" : "XHC1")},
      {"DABusPath", PlistValue(internal ? "IODeviceTree:/PCI0@0/RP09@1D/SSD0@0" : "IODeviceTree:/PCI0@0/XHC1@14")},
      {"DADeviceInternal", PlistValue(internal)},
      {"DADeviceModel", PlistValue(internal ? "APPLE SSD AP0512M" : "My Passport 25E2")},
      {"DADevicePath", PlistValue(path)},
      {"DADeviceProtocol", PlistValue(internal ? "PCI-Express" : "USB")},
      {"DADeviceRevision", PlistValue(internal ? "1161.60." : "4004")},
      {"DADeviceUnit", PlistValue(0)},
      {"DADeviceVendor", PlistValue(internal ? "" : "WD")},
      {"DAMediaBSDMajor", PlistValue(1)},
      {"DAMediaBSDMinor", PlistValue(static_cast<std::int64_t>(minor))},
      {"DAMediaBSDName", PlistValue(bsd)},
      {"DAMediaBSDUnit", PlistValue(static_cast<std::int64_t>(std::stoll(unit)))},
      {"DAMediaBlockSize", PlistValue(4096)},
      {"DAMediaContent", PlistValue(content)},
      {"DAMediaEjectable", PlistValue(!internal)},
      {"DAMediaIcon", PlistValue(PlistDict{{"CFBundleIdentifier", PlistValue("com.apple.iokit.IOStorageFamily")},
                                           {"IOBundleResourceFile", PlistValue(internal ? "Internal.icns" : "External.icns")}})},
      {"DAMediaKind", PlistValue("IOMedia")},
      {"DAMediaLeaf", PlistValue(!whole)},
      {"DAMediaName", PlistValue(whole ? "APPLE SSD AP0512M Media" : "Untitled")},
      {"DAMediaPath", PlistValue(path + "/IONVMeBlockStorageDevice/IOBlockStorageDriver/" + bsd)},
      {"DAMediaRemovable", PlistValue(false)},
      {"DAMediaSize", PlistValue(size)},
      {"DAMediaWhole", PlistValue(whole)},
      {"DAMediaWritable", PlistValue(true)},
      {"DAVolumeMountable", PlistValue(!whole)},
      {"DAVolumeNetwork", PlistValue(false)},
  };
  return PlistDict{{"Class", PlistValue("IOMedia")},
                   {"Properties", PlistValue(PlistDict{{"BSD Name", PlistValue(bsd)}, {"Size", PlistValue(size)},
                                                       {"Whole", PlistValue(whole)}, {"Content", PlistValue(content)}})},
                   {"Description", PlistValue(std::move(description))}};
}

PlistValue apfsVolume(unsigned disk, unsigned slice, const char* name, const char* role, const std::string& mountPath,
                      bool internal) {
  std::string bsd = "disk" + std::to_string(disk) + "s" + std::to_string(slice);
  PlistDict entry = media(bsd, 500068036608, kApfsVolume, false, internal);
  entry["Class"] = "AppleAPFSVolume";
  PlistDict& description = *entry["Description"].asDictionary();
  description["DAVolumeName"] = name;
  description["DAVolumeKind"] = "apfs";
  description["DAVolumeType"] = "APFS";
  description["DAVolumeUUID"] = uuidFor(disk, slice);
  description["DAMediaUUID"] = uuidFor(disk + 100000, slice);
  if (!mountPath.empty()) {
    std::string url = "file://";
    for (char c : mountPath) url += c == ' ' ? std::string("%20") : std::string(1, c);
    description["DAVolumePath"] = url == "file:///" ? url : url + "/";
  }
  if (*role) (*entry["Properties"].asDictionary())["Role"] = PlistArray{PlistValue(role)};
  return entry;
}

// One whole disk with an APFS partition whose container holds seven volumes: the usual roles,
// and a named user volume. The first disk is the running system's.
PlistValue containerDisk(unsigned index) {
  unsigned whole = index * 2, synthesized = index * 2 + 1;
  bool internal = index == 0;
  std::string user = "Projects " + std::to_string(index);
  PlistArray volumes{
      apfsVolume(synthesized, 1, "Macintosh HD", internal ? "System" : "", internal ? "/" : "", internal),
      apfsVolume(synthesized, 2, "Macintosh HD - Data", "Data", internal ? "/System/Volumes/Data" : "", internal),
      apfsVolume(synthesized, 3, "Preboot", "Preboot", "", internal),
      apfsVolume(synthesized, 4, "Recovery", "Recovery", "", internal),
      apfsVolume(synthesized, 5, "VM", "VM", "", internal),
      apfsVolume(synthesized, 6, "Update", "Update", "", internal),
      apfsVolume(synthesized, 7, user.c_str(), "", "/Volumes/" + user, internal),
  };
  PlistDict container{{"Class", PlistValue("AppleAPFSContainer")}, {"Children", PlistValue(std::move(volumes))}};
  PlistDict synthesizedDisk = media("disk" + std::to_string(synthesized), 500068036608,
                                    "EF57347C-0000-11AA-AA11-00306543ECAC", true, internal);
  synthesizedDisk["Class"] = "AppleAPFSMedia";
  synthesizedDisk["Children"] = PlistArray{PlistValue(std::move(container))};
  PlistDict partition = media("disk" + std::to_string(whole) + "s2", 500068036608, "7C3457EF-0000-11AA-AA11-00306543ECAC",
                              false, internal);
  partition["Children"] = PlistArray{PlistValue(std::move(synthesizedDisk))};
  PlistDict disk = media("disk" + std::to_string(whole), 500277790720, "GUID_partition_scheme", true, internal);
  disk["Children"] = PlistArray{PlistValue(PlistDict{{"Class", PlistValue("IOGUIDPartitionScheme")},
                                                     {"Children", PlistValue(PlistArray{PlistValue(std::move(partition))})}})};
  return PlistDict{{"Class", PlistValue("IOBlockStorageDriver")}, {"Children", PlistValue(PlistArray{PlistValue(std::move(disk))})}};
}

class GeneratedImage {
 public:
  explicit GeneratedImage(int mediaObjects) {
    char pattern[] = "/tmp/strandel-bench-XXXXXX";
    dir_ = ::mkdtemp(pattern);
    std::filesystem::create_directories(dir_ / "root/tmp");
    PlistArray registry;
    for (int i = 0; i < mediaObjects / kMediaPerContainer; ++i) registry.push_back(containerDisk(static_cast<unsigned>(i)));
    PlistValue top(PlistDict{{"Registry", PlistValue(std::move(registry))}, {"Mounts", PlistValue(PlistArray{})}});
    std::ofstream(dir_ / "machine.plist", std::ios::binary) << strandel::writeBinaryPlist(top);
  }
  ~GeneratedImage() { std::filesystem::remove_all(dir_); }

  void use() const {
    if (auto error = strandel::useMachine(dir_.string())) {
      std::fprintf(stderr, "generated image refused: %s\n", error->c_str());
      std::exit(1);
    }
  }

 private:
  std::filesystem::path dir_;
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

// Not a floor: only reads every description in place, with no copy. Its growth from 1k to 10k
// shows what the memory holding 10k descriptions costs any walk over them, the list's included.
void BM_WalkDescriptionsInPlace(benchmark::State& state) {
  imageOf(static_cast<int>(state.range(0))).use();
  auto machine = strandel::platform::current();
  auto& registry = machine->registry();
  for (auto _ : state) {
    std::size_t bytes = 0;
    for (auto object : registry.mediaObjects()) {
      auto description = registry.description(object);
      if (!description) continue;
      for (const auto& [key, value] : *description) bytes += key.size() + (value.asString() ? value.asString()->size() : 0);
    }
    benchmark::DoNotOptimize(bytes);
  }
}
BENCHMARK(BM_WalkDescriptionsInPlace)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace
