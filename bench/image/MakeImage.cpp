// Writes a machine image of about MEDIA media objects into DIR, for timing the tool as a whole
// process on large machines: one APFS container per whole disk, ten media objects apiece (the
// disk, its partition, the container's media disk and seven volumes, two of them mounted).
//
// Usage: bench_make_image DIR MEDIA
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <strandel/PlistValue.hpp>

namespace {

using strandel::PlistArray;
using strandel::PlistDict;
using strandel::PlistValue;

constexpr int kMediaPerDisk = 10;

PlistDict media(const std::string& className, const std::string& bsd, const char* content, bool whole) {
  PlistDict description{
      {"DAMediaBSDName", PlistValue(bsd)},
      {"DAMediaSize", PlistValue(std::uint64_t{500068036608})},
      {"DAMediaContent", PlistValue(content)},
      {"DAMediaWhole", PlistValue(whole)},
      {"DAMediaLeaf", PlistValue(!whole)},
      {"DAMediaBlockSize", PlistValue(4096)},
      {"DAMediaKind", PlistValue("IOMedia")},
      {"DADeviceInternal", PlistValue(true)},
      {"DADeviceProtocol", PlistValue("PCI-Express")},
      {"DADeviceModel", PlistValue("APPLE SSD AP0512M")},
      {"DAVolumeMountable", PlistValue(!whole)},
      {"DAVolumeNetwork", PlistValue(false)},
  };
  return PlistDict{{"Class", PlistValue(className)},
                   {"Properties", PlistValue(PlistDict{{"BSD Name", PlistValue(bsd)}, {"Whole", PlistValue(whole)}})},
                   {"Description", PlistValue(std::move(description))}};
}

PlistValue volume(int disk, int slice, const char* role, bool mounted) {
  std::string bsd = "disk" + std::to_string(disk) + "s" + std::to_string(slice);
  PlistDict entry = media("AppleAPFSVolume", bsd, "41504653-0000-11AA-AA11-00306543ECAC", false);
  PlistDict& description = *entry["Description"].asDictionary();
  std::string name = *role ? std::string(role) + " " + std::to_string(disk) : "Projects " + std::to_string(disk);
  description["DAVolumeName"] = name;
  description["DAVolumeKind"] = "apfs";
  description["DAVolumeType"] = "APFS";
  char uuid[40];
  std::snprintf(uuid, sizeof uuid, "%08X-%04X-4000-A000-%012X", 0x5EED + disk, slice, disk * 7919 + slice);
  description["DAVolumeUUID"] = std::string(uuid);
  if (mounted) description["DAVolumePath"] = "file:///Volumes/" + std::to_string(disk) + "-" + std::to_string(slice) + "/";
  if (*role) (*entry["Properties"].asDictionary())["Role"] = PlistArray{PlistValue(role)};
  return entry;
}

PlistValue containerDisk(int index) {
  int whole = index * 2, synthesized = index * 2 + 1;
  const char* roles[] = {"System", "Data", "Preboot", "Recovery", "VM", "Update", ""};
  PlistArray volumes;
  for (int slice = 1; slice <= 7; ++slice) volumes.push_back(volume(synthesized, slice, roles[slice - 1], slice == 2 || slice == 7));
  PlistDict container{{"Class", PlistValue("AppleAPFSContainer")}, {"Children", PlistValue(std::move(volumes))}};
  PlistDict apfsMedia = media("AppleAPFSMedia", "disk" + std::to_string(synthesized), "EF57347C-0000-11AA-AA11-00306543ECAC", true);
  apfsMedia["Children"] = PlistArray{PlistValue(std::move(container))};
  PlistDict partition = media("IOMedia", "disk" + std::to_string(whole) + "s2", "7C3457EF-0000-11AA-AA11-00306543ECAC", false);
  partition["Children"] = PlistArray{PlistValue(std::move(apfsMedia))};
  PlistDict disk = media("IOMedia", "disk" + std::to_string(whole), "GUID_partition_scheme", true);
  disk["Children"] = PlistArray{PlistValue(PlistDict{{"Class", PlistValue("IOGUIDPartitionScheme")},
                                                     {"Children", PlistValue(PlistArray{PlistValue(std::move(partition))})}})};
  return PlistDict{{"Class", PlistValue("IOBlockStorageDriver")}, {"Children", PlistValue(PlistArray{PlistValue(std::move(disk))})}};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 || std::atoi(argv[2]) < kMediaPerDisk) {
    std::fprintf(stderr, "usage: bench_make_image DIR MEDIA (at least %d)\n", kMediaPerDisk);
    return 2;
  }
  std::filesystem::path dir = argv[1];
  std::filesystem::create_directories(dir / "root");
  PlistArray registry;
  for (int i = 0; i < std::atoi(argv[2]) / kMediaPerDisk; ++i) registry.push_back(containerDisk(i));
  PlistValue top(PlistDict{{"Registry", PlistValue(std::move(registry))}, {"Mounts", PlistValue(PlistArray{})}});
  std::ofstream(dir / "machine.plist", std::ios::binary) << strandel::writeBinaryPlist(top);
  return 0;
}
