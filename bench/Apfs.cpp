// getAPFSContainer on a machine whose disk utility lists 1,000 containers, against the floor
// of any such lookup: one run of the same tool printing the same bytes, plus one scan of those
// bytes. The lookup asks for the last container, so it visits every entry.
// Goal: BM_GetAPFSContainerOfTheLast <= 3 x BM_FloorToolRunAndByteScan (Release, medians of 5).
#include <benchmark/benchmark.h>

#include <plist/plist.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

#include <strandel/Machine.hpp>
#include <strandel/Strandel.hpp>

#include "apfs/ApfsListing.hpp"
#include "bench/LibplistNode.hpp"
#include "bench/TemporaryFolder.hpp"
#include "platform/Machine.hpp"

namespace strandel::bench {
namespace {

constexpr int kContainers = 1000;

// A listing in the disk utility's shape: each container on its own partition, with the four
// volumes of a 10.15 Mac.
std::string listing() {
  PlistArray containers;
  for (int i = 0; i < kContainers; ++i) {
    const std::string disk = "disk" + std::to_string(i + 1000);
    const std::string store = "disk" + std::to_string(i) + "s2";
    PlistArray volumes;
    const char* roles[] = {"Data", "Preboot", "Recovery", "VM", "System"};
    for (int v = 0; v < 5; ++v) {
      volumes.push_back(
          PlistDict{{"APFSVolumeUUID", PlistValue("56D7EFCC-0CFF-4B80-BD97-3FD1BA491A13")},
                    {"CapacityInUse", PlistValue(std::int64_t{445271552000})},
                    {"CapacityQuota", PlistValue(std::int64_t{0})},
                    {"CapacityReserve", PlistValue(std::int64_t{0})},
                    {"CryptoMigrationOn", PlistValue(false)},
                    {"DeviceIdentifier", PlistValue(disk + "s" + std::to_string(v + 1))},
                    {"Encryption", PlistValue(true)},
                    {"FileVault", PlistValue(false)},
                    {"Locked", PlistValue(false)},
                    {"Name", PlistValue(std::string("Macintosh HD ") + roles[v])},
                    {"Roles", PlistValue(PlistArray{PlistValue(roles[v])})}});
    }
    containers.push_back(PlistDict{
        {"APFSContainerUUID", PlistValue("205816A4-BF3B-4A3F-9BEE-6339732D74D9")},
        {"CapacityCeiling", PlistValue(std::int64_t{489999998976})},
        {"CapacityFree", PlistValue(std::int64_t{29498146816})},
        {"ContainerReference", PlistValue(disk)},
        {"DesignatedPhysicalStore", PlistValue(store)},
        {"Fusion", PlistValue(false)},
        {"PhysicalStores", PlistValue(PlistArray{PlistValue(PlistDict{
                               {"DeviceIdentifier", PlistValue(store)},
                               {"DiskUUID", PlistValue("CD1BA3FD-15DC-48CA-A86D-4A897C893821")},
                               {"Size", PlistValue(std::int64_t{489999998976})}})})},
        {"Volumes", PlistValue(std::move(volumes))},
    });
  }
  return writeXmlPlist(PlistDict{{"Containers", PlistValue(std::move(containers))}});
}

void writeFile(const std::filesystem::path& path, const std::string& contents,
               std::filesystem::perms perms) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << contents;
  std::filesystem::permissions(path, perms);
}

struct Image {
  TemporaryFolder folder{"apfs"};
  const std::filesystem::path& dir = folder.path();
  std::string bytes = listing();
  Image() {
    writeFile(dir / "machine.plist",
              writeXmlPlist(PlistDict{{"Registry", PlistValue(PlistArray{})},
                                      {"Mounts", PlistValue(PlistArray{})}}),
              std::filesystem::perms(0644));
    const auto executable = std::filesystem::perms(0755);
    writeFile(dir / "root/usr/sbin/diskutil",
              "#!/bin/sh\nexec /bin/cat \"${0%/*}/diskutil.d/apfs-list.plist\"\n", executable);
    writeFile(dir / "root/usr/sbin/diskutil.d/apfs-list.plist", bytes,
              std::filesystem::perms(0644));
    writeFile(dir / "root/usr/bin/sw_vers", "#!/bin/sh\necho 10.15.7\n", executable);
    std::filesystem::create_directories(dir / "root/tmp");
    if (auto error = useMachine(dir.string())) std::abort();
    // The version is read once here and kept in the image's settings, as on a host.
    ZVGetCurrentSystemString();
  }
};

const Image& image() {
  static const Image instance;
  return instance;
}

const std::string kLastStore = "/dev/disk" + std::to_string(kContainers - 1) + "s2";

void BM_GetAPFSContainerOfTheLast(benchmark::State& state) {
  image();
  for (auto _ : state) {
    auto entry = getAPFSContainer(kLastStore);
    if (!entry) state.SkipWithError("no container");
    benchmark::DoNotOptimize(entry);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(image().bytes.size()));
}
BENCHMARK(BM_GetAPFSContainerOfTheLast)->Unit(benchmark::kMillisecond)->UseRealTime();

// The floor: the same tool run, and one pass over every byte of its output.
void BM_FloorToolRunAndByteScan(benchmark::State& state) {
  image();
  platform::ToolRunOptions options;
  options.tool = "/usr/sbin/diskutil";
  options.arguments = {"apfs", "list", "-plist"};
  for (auto _ : state) {
    auto output = platform::current()->processes().runTool(options);
    if (!output) state.SkipWithError("no output");
    benchmark::DoNotOptimize(std::count(output->bytes.begin(), output->bytes.end(), '<'));
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(image().bytes.size()));
}
BENCHMARK(BM_FloorToolRunAndByteScan)->Unit(benchmark::kMillisecond)->UseRealTime();

// The parts, to see where the lookup's time goes.
void BM_ToolRunOnly(benchmark::State& state) {
  image();
  platform::ToolRunOptions options;
  options.tool = "/usr/sbin/diskutil";
  options.arguments = {"apfs", "list", "-plist"};
  for (auto _ : state) benchmark::DoNotOptimize(platform::current()->processes().runTool(options));
}
BENCHMARK(BM_ToolRunOnly)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_LibplistParseOnly(benchmark::State& state) {
  const std::string& bytes = image().bytes;
  for (auto _ : state) {
    strandel::detail::LibplistNode root;
    plist_from_memory(bytes.data(), static_cast<std::uint32_t>(bytes.size()), root.receive());
    benchmark::DoNotOptimize(root.get());
    root.reset();
  }
}
BENCHMARK(BM_LibplistParseOnly)->Unit(benchmark::kMillisecond);

void BM_ReadPlistOnly(benchmark::State& state) {
  const std::string& bytes = image().bytes;
  for (auto _ : state) benchmark::DoNotOptimize(readPlist(bytes));
}
BENCHMARK(BM_ReadPlistOnly)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace strandel::bench
