// The registry disks that the image-registry and property-list benches generate: each disk ten
// registry objects (driver, whole disk, partition scheme, partition, APFS media, container and
// four volumes), every media object with a description as the disk arbitration service gives.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include <strandel/PlistValue.hpp>

namespace strandel::bench {

inline PlistDict mediaEntry(const std::string& className, const std::string& bsd, bool volume) {
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

inline PlistValue disk(int index) {
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

}  // namespace strandel::bench
