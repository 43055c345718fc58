// A generated machine registry for benchmarks: whole disks, each with one APFS partition whose
// container holds seven volumes, every media object with a description as full as the disk
// arbitration service gives. The one generator of the benches (volume list, image registry,
// property-list reading) and of the whole-process image maker.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>

#include <strandel/PlistValue.hpp>

namespace strandel::bench {

inline constexpr int kMediaPerContainer = 10;
inline constexpr const char* kApfsVolume = "41504653-0000-11AA-AA11-00306543ECAC";

inline std::string uuidFor(unsigned disk, unsigned slice) {
  char text[40];
  std::snprintf(text, sizeof text, "%08X-%04X-4%03X-A%03X-%012X", 0x5EEDu + disk, slice,
                disk % 4096, slice, disk * 7919u + slice);
  return text;
}

// A media object with the description the disk arbitration service gives: some thirty keys,
// most of which the list never reads, as in a real one.
inline PlistDict media(const std::string& bsd, std::uint64_t size, const char* content, bool whole,
                       bool internal) {
  static std::uint32_t minor = 0;
  ++minor;
  std::string unit = bsd.substr(4, bsd.find('s', 4) - 4);
  std::string path = internal ? "IOService:/AppleACPIPlatformExpert/PCI0@0/AppleACPIPCI/RP09@1D/"
                                "IOPP/SSD0@0/IONVMeController"
                              : "IOService:/AppleACPIPlatformExpert/PCI0@0/AppleACPIPCI/XHC1@14/"
                                "XHC1@14000000/HS01@14100000";
  PlistDict description{
      {"DAAppearanceTime", PlistValue(632061129.279307)},
      {"DABusName", PlistValue(internal ? "IOAPCI" : "XHC1")},
      {"DABusPath", PlistValue(internal ? "IODeviceTree:/PCI0@0/RP09@1D/SSD0@0"
                                        : "IODeviceTree:/PCI0@0/XHC1@14")},
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
      {"DAMediaIcon",
       PlistValue(PlistDict{
           {"CFBundleIdentifier", PlistValue("com.apple.iokit.IOStorageFamily")},
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
                   {"Properties", PlistValue(PlistDict{{"BSD Name", PlistValue(bsd)},
                                                       {"Size", PlistValue(size)},
                                                       {"Whole", PlistValue(whole)},
                                                       {"Content", PlistValue(content)}})},
                   {"Description", PlistValue(std::move(description))}};
}

inline PlistValue apfsVolume(unsigned disk, unsigned slice, const char* name, const char* role,
                             const std::string& mountPath, bool internal) {
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
inline PlistValue containerDisk(unsigned index) {
  unsigned whole = index * 2, synthesized = index * 2 + 1;
  bool internal = index == 0;
  std::string user = "Projects " + std::to_string(index);
  PlistArray volumes{
      apfsVolume(synthesized, 1, "Macintosh HD", internal ? "System" : "", internal ? "/" : "",
                 internal),
      apfsVolume(synthesized, 2, "Macintosh HD - Data", "Data",
                 internal ? "/System/Volumes/Data" : "", internal),
      apfsVolume(synthesized, 3, "Preboot", "Preboot", "", internal),
      apfsVolume(synthesized, 4, "Recovery", "Recovery", "", internal),
      apfsVolume(synthesized, 5, "VM", "VM", "", internal),
      apfsVolume(synthesized, 6, "Update", "Update", "", internal),
      apfsVolume(synthesized, 7, user.c_str(), "", "/Volumes/" + user, internal),
  };
  PlistDict container{{"Class", PlistValue("AppleAPFSContainer")},
                      {"Children", PlistValue(std::move(volumes))}};
  PlistDict synthesizedDisk = media("disk" + std::to_string(synthesized), 500068036608,
                                    "EF57347C-0000-11AA-AA11-00306543ECAC", true, internal);
  synthesizedDisk["Class"] = "AppleAPFSMedia";
  synthesizedDisk["Children"] = PlistArray{PlistValue(std::move(container))};
  PlistDict partition = media("disk" + std::to_string(whole) + "s2", 500068036608,
                              "7C3457EF-0000-11AA-AA11-00306543ECAC", false, internal);
  partition["Children"] = PlistArray{PlistValue(std::move(synthesizedDisk))};
  PlistDict disk =
      media("disk" + std::to_string(whole), 500277790720, "GUID_partition_scheme", true, internal);
  disk["Children"] = PlistArray{PlistValue(
      PlistDict{{"Class", PlistValue("IOGUIDPartitionScheme")},
                {"Children", PlistValue(PlistArray{PlistValue(std::move(partition))})}})};
  return PlistDict{{"Class", PlistValue("IOBlockStorageDriver")},
                   {"Children", PlistValue(PlistArray{PlistValue(std::move(disk))})}};
}

// The machine.plist value of `mediaObjects` media objects (ten per container disk).
inline PlistValue generatedMachine(int mediaObjects) {
  PlistArray registry;
  for (int i = 0; i < mediaObjects / kMediaPerContainer; ++i)
    registry.push_back(containerDisk(static_cast<unsigned>(i)));
  return PlistValue(PlistDict{{"Registry", PlistValue(std::move(registry))},
                              {"Mounts", PlistValue(PlistArray{})}});
}

}  // namespace strandel::bench
