// The volume record: the working values read from one disk description and the 24-key,
// display-ready dictionary made of them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <strandel/PlistValue.hpp>

#include "framework/Translations.hpp"

namespace strandel {

/// The values of one disk description that a record is made of, with the record's defaults
/// for whatever the description lacks ("", false, 0, no URL).
struct VolumeFacts {
  bool internal = false;
  std::uint64_t size = 0;
  std::string mediaType, content, protocol, bsdName, volumeName, volumeKind, volumeType;
  std::string volumeUUID, mediaUUID;  // canonical text, "" when absent
  std::optional<PlistUrl> mountUrl;
};

/// Reads the working values of a description.
VolumeFacts readVolumeFacts(const PlistDict& description);

/// The values derived for display, as the record shows them.
struct VolumeDisplay {
  std::string location;     // "Internal" or "External", untranslated
  std::string mountPath;    // "" when not mounted
  std::string devicePath;   // "/dev/" and the BSD name
  std::string displayName;  // the volume name, else the mount path's last component, else the BSD name
  std::string nameWithSize; // "Name (500.11 GB)"
  std::optional<std::string> formatLabel;  // nothing for a kind that is never listed
  std::string tooltip;      // four lines
};

/// Derives the display values; every translation goes through `translations`.
VolumeDisplay deriveDisplay(const VolumeFacts& facts, TranslationMemo& translations);

/// The format label of a volume kind: "HFS+", "APFS", the volume type for "msdos", "ExFAT";
/// nothing for any other kind.
std::optional<std::string> formatLabelFor(std::string_view kind, std::string_view volumeType);

/// The single-form group of a volume that is not APFS: its boot flag, and the volume itself as
/// the one member (`isMounted` a boolean).
PlistDict singleFormGroup(const VolumeFacts& facts, const VolumeDisplay& display);

/// The 24-key record. `group` is the APFS or single-form group; `role` the first registry role.
PlistDict volumeRecord(const VolumeFacts& facts, const VolumeDisplay& display, PlistValue group, std::string role);

}  // namespace strandel
