// The image registry's own costs on a generated machine of 10,000 media objects (1,000 disks,
// each: driver, whole disk, partition scheme, partition, APFS media, container, seven volumes):
// loading it, and each seam call the volume list makes per object, against the floor of one
// description copy.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "bench/GeneratedMachine.hpp"
#include "bench/TemporaryFolder.hpp"
#include "platform/image/ImageMachine.hpp"
#include "platform/linux/Sandbox.hpp"

namespace strandel::platform {
namespace {

constexpr int kDisks = 1000;

class GeneratedImage {
 public:
  GeneratedImage() {
    std::filesystem::create_directories(dir_ / "root");
    PlistValue top = bench::generatedMachine(kDisks * bench::kMediaPerContainer);
    std::ofstream(dir_ / "machine.plist", std::ios::binary) << writeBinaryPlist(top);
    auto loaded = image::loadMachine(dir_.string(), platform::live::makeSandbox);
    if (!loaded.machine) {
      std::fprintf(stderr, "generated image refused: %s\n", loaded.error.c_str());
      std::exit(1);
    }
    machine_ = loaded.machine;
  }
  const std::string dir() const { return dir_.string(); }
  Registry& registry() const { return machine_->registry(); }

 private:
  bench::TemporaryFolder folder_{"registry"};
  const std::filesystem::path& dir_ = folder_.path();
  std::shared_ptr<Machine> machine_;
};

const GeneratedImage& generated() {
  static GeneratedImage image;
  return image;
}

void BM_LoadMachine(benchmark::State& state) {
  std::string dir = generated().dir();
  for (auto _ : state)
    benchmark::DoNotOptimize(image::loadMachine(dir, platform::live::makeSandbox));
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
      for (const char* name :
           {"ATAPI", "isMirroredIDiskImage2", "hdik-unique-identifier", "DiskImageURL", "Role"})
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
}  // namespace strandel::platform
