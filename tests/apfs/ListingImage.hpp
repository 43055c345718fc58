// Test images whose disk utility prints a given APFS listing, and listings built in a few words.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <strandel/PlistValue.hpp>

#include "tests/support/ImageBuilder.hpp"
#include "tests/system/VersionTool.hpp"

namespace strandel::testing {

/// An image whose `diskutil` prints `output` byte for byte (whatever its arguments) and counts
/// its runs in root/tmp/diskutil-runs; its version tool prints `version` unless it is absent,
/// when the image has no version tool.
inline ImageBuilder listingImage(const std::string& output, const std::optional<std::string>& version = "10.15.7") {
  ImageBuilder image;
  image.tool("/usr/sbin/diskutil",
             "#!/bin/sh\n"
             "echo run >> \"${0%/usr/sbin/diskutil}/tmp/diskutil-runs\"\n"
             "/bin/cat \"${0%/*}/diskutil.d/apfs-list.plist\"\n");
  image.file("/usr/sbin/diskutil.d/apfs-list.plist", output);
  if (version) addVersionTool(image, *version + "\n");
  return image;
}

/// A volume entry: its identifier (none when absent) and its roles (no "Roles" when absent).
inline PlistValue apfsVolume(const std::optional<std::string>& identifier,
                             const std::optional<std::vector<std::string>>& roles, const std::string& name = "Volume") {
  PlistDict volume{{"Name", PlistValue(name)}, {"CapacityInUse", PlistValue(std::int64_t{1048576})}};
  if (identifier) volume["DeviceIdentifier"] = *identifier;
  if (roles) {
    PlistArray list;
    for (const auto& role : *roles) list.push_back(PlistValue(role));
    volume["Roles"] = std::move(list);
  }
  return volume;
}

/// A container entry: its "ContainerReference", "DesignatedPhysicalStore" and first
/// "PhysicalStores" identifier (each left out when absent; no store at all gives no
/// "PhysicalStores" array), and its "Volumes".
inline PlistValue apfsContainer(const std::optional<std::string>& reference,
                                const std::optional<std::string>& designatedStore = std::nullopt,
                                const std::optional<std::string>& firstStore = std::nullopt, PlistArray volumes = {}) {
  PlistDict container{{"CapacityCeiling", PlistValue(std::int64_t{499963174912})},
                      {"CapacityFree", PlistValue(std::int64_t{123456789012})},
                      {"Volumes", PlistValue(std::move(volumes))}};
  if (reference) container["ContainerReference"] = *reference;
  if (designatedStore) container["DesignatedPhysicalStore"] = *designatedStore;
  if (firstStore) {
    container["PhysicalStores"] = PlistArray{
        PlistValue(PlistDict{{"DeviceIdentifier", PlistValue(*firstStore)}, {"Size", PlistValue(std::int64_t{499963174912})}})};
  }
  return container;
}

/// The "Containers" array of a listing value; nullptr when it is absent or not an array.
inline const PlistArray* containersOf(const PlistDict& listing) {
  auto it = listing.find("Containers");
  return it == listing.end() ? nullptr : it->second.asArray();
}

inline std::string listingXml(const std::vector<PlistValue>& containers) {
  return writeXmlPlist(PlistDict{{"Containers", PlistValue(PlistArray(containers.begin(), containers.end()))}});
}

}  // namespace strandel::testing
