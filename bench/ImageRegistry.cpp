// The image registry's own costs on a generated machine of 10,000 registry objects (1,000 disks,
// each: driver, whole disk, partition scheme, partition, APFS media, container, four volumes):
// loading it, and each seam call the volume list makes per object, against the floor of one
// description copy.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/image/ImageMachine.hpp"

namespace {

using namespace strandel;
using namespace strandel::platform;

constexpr int kDisks = 1000;

PlistDict mediaEntry(const std::string& className, const std::string& bsd, bool volume) {
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
    description["DAVolumeType"] = "APFS";
    description["DAVolumeUUID"] = "424fea98-2296-48fd-8dff-0866835572e9";
    description["DAVolumePath"] = "file:///Volumes/Volume%20" + bsd + "/";
    properties["Role"] = PlistArray{PlistValue("Data")};
  }
  return PlistDict{{"Class", PlistValue(className)},
                   {"Properties", PlistValue(std::move(properties))},
                   {"Description", PlistValue(std::move(description))}};
}

PlistValue disk(int index) {
  std::string whole = "disk" + std::to_string(2 * index), apfs = "disk" + std::to_string(2 * index + 1);
  PlistArray volumes;
  for (int slice = 1; slice <= 4; ++slice) volumes.push_back(mediaEntry("AppleAPFSVolume", apfs + "s" + std::to_string(slice), true));
  PlistDict container{{"Class", PlistValue("AppleAPFSContainer")}, {"Children", PlistValue(std::move(volumes))}};
  PlistDict media = mediaEntry("AppleAPFSMedia", apfs, false);
  media["Children"] = PlistArray{PlistValue(std::move(container))};
  PlistDict partition = mediaEntry("IOMedia", whole + "s2", false);
  partition["Children"] = PlistArray{PlistValue(std::move(media))};
  PlistDict scheme{{"Class", PlistValue("IOGUIDPartitionScheme")}, {"Children", PlistValue(PlistArray{PlistValue(std::move(partition))})}};
  PlistDict wholeDisk = mediaEntry("IOMedia", whole, false);
  wholeDisk["Children"] = PlistArray{PlistValue(std::move(scheme))};
  return PlistDict{{"Class", PlistValue("IOBlockStorageDriver")},
                   {"Properties", PlistValue(PlistDict{{"ATAPI", PlistValue(false)}})},
                   {"Children", PlistValue(PlistArray{PlistValue(std::move(wholeDisk))})}};
}

class GeneratedImage {
 public:
  GeneratedImage() {
    char pattern[] = "/tmp/strandel-bench-XXXXXX";
    dir_ = ::mkdtemp(pattern);
    std::filesystem::create_directories(dir_ / "root");
    PlistArray registry;
    for (int i = 0; i < kDisks; ++i) registry.push_back(disk(i));
    PlistValue top(PlistDict{{"Registry", PlistValue(std::move(registry))}, {"Mounts", PlistValue(PlistArray{})}});
    std::ofstream(dir_ / "machine.plist", std::ios::binary) << writeBinaryPlist(top);
    auto loaded = image::loadMachine(dir_.string());
    if (!loaded.machine) {
      std::fprintf(stderr, "generated image refused: %s\n", loaded.error.c_str());
      std::exit(1);
    }
    machine_ = loaded.machine;
  }
  ~GeneratedImage() { std::filesystem::remove_all(dir_); }
  const std::string dir() const { return dir_.string(); }
  Registry& registry() const { return machine_->registry(); }

 private:
  std::filesystem::path dir_;
  std::shared_ptr<Machine> machine_;
};

const GeneratedImage& generated() {
  static GeneratedImage image;
  return image;
}

void BM_LoadMachine(benchmark::State& state) {
  std::string dir = generated().dir();
  for (auto _ : state) benchmark::DoNotOptimize(image::loadMachine(dir));
}
BENCHMARK(BM_LoadMachine)->Unit(benchmark::kMillisecond);

// The floor: every media object's description copied once.
void BM_DescriptionWalk(benchmark::State& state) {
  Registry& registry = generated().registry();
  for (auto _ : state) {
    for (auto object : registry.mediaObjects()) {
      if (auto shared = registry.description(object)) {
        PlistDict description = *shared;
        benchmark::DoNotOptimize(description);
      }
    }
  }
}
BENCHMARK(BM_DescriptionWalk)->Unit(benchmark::kMillisecond);

// What the volume list asks of each object before it copies anything: the class and five
// property searches, four of which climb to the top without finding anything.
void BM_ClassAndPropertySearches(benchmark::State& state) {
  Registry& registry = generated().registry();
  for (auto _ : state) {
    for (auto object : registry.mediaObjects()) {
      benchmark::DoNotOptimize(registry.className(object));
      for (const char* name : {"ATAPI", "isMirroredIDiskImage2", "hdik-unique-identifier", "DiskImageURL", "Role"})
        benchmark::DoNotOptimize(registry.searchProperty(object, name));
    }
  }
}
BENCHMARK(BM_ClassAndPropertySearches)->Unit(benchmark::kMillisecond);

// The container lookup: the media object of a BSD name and everything below it.
void BM_BsdLookupAndDescendants(benchmark::State& state) {
  Registry& registry = generated().registry();
  std::vector<std::string> names;
  for (int i = 0; i < kDisks; ++i) names.push_back("disk" + std::to_string(2 * i + 1));
  for (auto _ : state) {
    for (const auto& name : names) {
      auto object = registry.mediaObjectForBSDName(name);
      benchmark::DoNotOptimize(registry.descendants(*object));
    }
  }
}
BENCHMARK(BM_BsdLookupAndDescendants)->Unit(benchmark::kMillisecond);

}  // namespace
