// The keys of the volume record that `StrandelFramework::volumeList()` gives, of the APFS group
// that `StrandelFramework::volumesInAPFSContainer()` gives (and a record holds under
// `kVolumeGroup`), and of the group's members, each with the kind of its value. The library
// builds its records from these same constants.
//
// Read each value with the getter of its kind: `size` is an unsigned integer, so
// `record.find(kVolumeSize)->asUnsignedInteger()` gives the byte count, while `asInteger()`
// gives nothing (getters never convert); `asNumber()` reads any number kind as a double.
#pragma once

#include <strandel/Export.hpp>
#ifndef STRANDEL_LANGUAGE_TOO_OLD

#include <array>
#include <string_view>

namespace strandel {

// ---- The volume record: a dictionary of exactly these 24 keys ----

/// String: the BSD name, "disk3s1".
inline constexpr std::string_view kVolumeBsdName = "bsdName";
/// String: the device protocol ("USB", "PCI-Express", "Virtual Interface"), "" when unknown.
inline constexpr std::string_view kVolumeConnection = "connection";
/// String: the partition content, a GUID or a scheme name ("Apple_HFS").
inline constexpr std::string_view kVolumeContent = "content";
/// String: "/dev/" and the BSD name.
inline constexpr std::string_view kVolumeDevicePath = "devicePath";
/// Boolean: the content is the APFS volume GUID.
inline constexpr std::string_view kVolumeIsAPFS = "isAPFS";
/// Boolean: mounted at "/".
inline constexpr std::string_view kVolumeIsBoot = "isBoot";
/// Boolean: the volume type names encryption ("APFS (Encrypted)").
inline constexpr std::string_view kVolumeIsFVapfs = "isFVapfs";
/// Boolean: the content is an HFS one (or empty, as the oldest partition schemes give it).
inline constexpr std::string_view kVolumeIsHFS = "isHFS";
/// Boolean: the volume type names journaling ("Mac OS Extended (Journaled)").
inline constexpr std::string_view kVolumeIsJournal = "isJournal";
/// Boolean: the volume has a mount path.
inline constexpr std::string_view kVolumeIsMounted = "isMounted";
/// String: "Internal" or "External" (untranslated).
inline constexpr std::string_view kVolumeLocation = "location";
/// String: the media UUID, "" when none.
inline constexpr std::string_view kVolumeMediaUUID = "mediaUUID";
/// String: the APFS role, "System", "Backup" or "" (volumes of other roles are not listed).
inline constexpr std::string_view kVolumeRole = "role";
/// Unsigned integer: the media size in bytes (read it with `asUnsignedInteger()`).
inline constexpr std::string_view kVolumeSize = "size";
/// String: four lines: name with size, BSD name, type, location and protocol (translated).
inline constexpr std::string_view kVolumeTooltip = "tooltip";
/// String: the format label, "APFS", "HFS+", "ExFAT" or an MS-DOS volume's type.
inline constexpr std::string_view kVolumeFmt = "volumeFmt";
/// Dictionary: the APFS group (keys below); for a volume outside APFS a group of itself alone.
inline constexpr std::string_view kVolumeGroup = "volumeGroup";
/// String: the file-system kind, "apfs", "hfs", "msdos" or "exfat".
inline constexpr std::string_view kVolumeKind = "volumeKind";
/// String: the display name: the volume name, else the mount path's last part, else the BSD name.
inline constexpr std::string_view kVolumeName = "volumeName";
/// String: the display name and the byte label, "Macintosh HD (494.38 GB)".
inline constexpr std::string_view kVolumeNameSize = "volumeName_Size";
/// String: the mount path, "" when not mounted.
inline constexpr std::string_view kVolumePath = "volumePath";
/// String: the volume type, "APFS", "Mac OS Extended (Journaled)", "" when unknown.
inline constexpr std::string_view kVolumeType = "volumeType";
/// URL: the mount URL, "file:///Volumes/Backup%20Disk/"; the empty URL when not mounted.
inline constexpr std::string_view kVolumeURL = "volumeURL";
/// String: the volume UUID, "" when none.
inline constexpr std::string_view kVolumeUUID = "volumeUUID";

/// Every key of the volume record, in the record's (sorted) order.
inline constexpr std::array<std::string_view, 24> kVolumeRecordKeys = {
    kVolumeBsdName,  kVolumeConnection, kVolumeContent, kVolumeDevicePath, kVolumeIsAPFS,
    kVolumeIsBoot,   kVolumeIsFVapfs,   kVolumeIsHFS,   kVolumeIsJournal,  kVolumeIsMounted,
    kVolumeLocation, kVolumeMediaUUID,  kVolumeRole,    kVolumeSize,       kVolumeTooltip,
    kVolumeFmt,      kVolumeGroup,      kVolumeKind,    kVolumeName,       kVolumeNameSize,
    kVolumePath,     kVolumeType,       kVolumeURL,     kVolumeUUID,
};

// ---- The APFS group: a dictionary of these two keys ----

/// Boolean: a volume of the group (or below it) is mounted at "/".
inline constexpr std::string_view kGroupContainsBoot = "containsBoot";
/// Array of member dictionaries (keys below), one per named volume.
inline constexpr std::string_view kGroupVolumes = "volumes";

// ---- A member of the group ----

/// String: the member's BSD name.
inline constexpr std::string_view kMemberBsd = "bsd";
/// String: the member's display name.
inline constexpr std::string_view kMemberName = "name";
/// String: the member's file-system kind.
inline constexpr std::string_view kMemberKind = "kind";
/// String: the member's mount path, "" when not mounted.
inline constexpr std::string_view kMemberVolpath = "volpath";
/// Integer 1 or 0 in the group of an APFS container (whether the member has a mount URL);
/// boolean in the group of a volume outside APFS. Test it with `asNumber()` or `asBoolean()`
/// as the kind says.
inline constexpr std::string_view kMemberIsMounted = "isMounted";

}  // namespace strandel

#endif  // STRANDEL_LANGUAGE_TOO_OLD
