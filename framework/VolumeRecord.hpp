// The volume record: the working values read from one disk description, the values derived
// from them for display, and the 24-key dictionary made of both.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <strandel/PlistValue.hpp>

#include "framework/DescriptionValues.hpp"
#include "framework/Translations.hpp"

namespace strandel::framework {

/// The values of one disk description that a record is made of, with the record's defaults for
/// whatever the description lacks ("", false, 0, no URL). The texts are views into the
/// description, so it must outlive them; a volume that is dropped never copies them.
struct VolumeFacts {
  bool internal = false;
  std::uint64_t size = 0;
  std::string_view mediaType, content, protocol, bsdName, volumeName, volumeKind, volumeType;
  std::string_view volumeUUID, mediaUUID;  // canonical text, "" when absent
  std::optional<std::string_view> mountUrl;
  DescriptionFields fields;  // where the texts come from: a record shares them, not copies
};

/// Reads the working values of a description from its fields.
VolumeFacts readVolumeFacts(const DescriptionFields& fields);

/// The values that the drop tests need.
struct VolumeNames {
  std::string_view location;  // "Internal" or "External", untranslated
  std::string mountPath;      // "" when not mounted
  std::string devicePath;     // "/dev/" and the BSD name
  std::string
      displayName;  // the volume name, else the mount path's last component, else the BSD name
};

VolumeNames deriveNames(const VolumeFacts& facts);

/// The display texts, made only for volumes that are listed.
struct VolumeLabels {
  std::string nameWithSize;      // "Name (500.11 GB)"
  std::string_view formatLabel;  // "HFS+", "APFS", the volume type for "msdos", "ExFAT"
  std::string tooltip;           // four lines
};

/// Derives the display texts; every translation goes through `translations`.
VolumeLabels deriveLabels(const VolumeFacts& facts, const VolumeNames& names,
                          TranslationMemo& translations);

/// Whether the content marks an APFS volume.
bool isApfsContent(std::string_view content);

/// The single-form group of a volume that is not APFS: its boot flag, and the volume itself as
/// the one member (`isMounted` a boolean).
PlistDict singleFormGroup(const VolumeFacts& facts, const VolumeNames& names);

/// The 24-key record. `group` is the APFS or single-form group; `role` the first registry role.
PlistDict volumeRecord(const VolumeFacts& facts, VolumeNames names, VolumeLabels labels,
                       PlistValue group, PlistValue role);

}  // namespace strandel::framework
