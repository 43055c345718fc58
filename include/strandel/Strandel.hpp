// Strandel's exported functions: APFS topology, OS version facts, mount-table lookups,
// capacities and byte text, Time Machine and Full Disk Access. Every function answers on the
// caller's thread; failure is the result alone (nothing, "", 0, false or role code 6) and
// nothing throws. Any function may be called on several threads at once; Machine.hpp tells the
// state that the whole process shares.
#pragma once

#include <strandel/Export.hpp>
#ifndef STRANDEL_LANGUAGE_TOO_OLD

// Inside the library only the exported functions' own files (api/) see this header: one folder
// calls another through that folder's internal header, which the build lets it reach only
// downwards (cmake/Layers.cmake).
#ifdef STRANDEL_SUBSYSTEM
#error "a library folder includes the public umbrella: call the other folder through its own header"
#endif

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <strandel/Machine.hpp>
#include <strandel/PlistValue.hpp>
#include <strandel/StrandelFramework.hpp>
#include <strandel/Version.hpp>
#include <strandel/VolumeKeys.hpp>

extern "C" {
/// The library's version number, 1.0.
STRANDEL_EXPORT extern const double StrandelVersionNumber;
/// The library's version text, "@(#)PROGRAM:Strandel  PROJECT:Varnex-1\n", zero-terminated.
STRANDEL_EXPORT extern const unsigned char StrandelVersionString[];
}

namespace strandel {

/// The version of the library loaded at run time, "1.0.0" (STRANDEL_VERSION, of
/// <strandel/Version.hpp>, is the version of the headers compiled against). Zero-terminated,
/// lives as long as the library.
STRANDEL_EXPORT const char* versionString() noexcept;

// ---- Time Machine ----

/// Whether `device` (a device path or a BSD name) is the mounted disk image of a network Time
/// Machine backup: protocol "Virtual Interface" and the volume name that the Time Machine
/// preferences give their image. False when the preferences or the device can't be read.
STRANDEL_EXPORT bool isNetworkTimeMachine(std::string_view device);

/// Runs the Time Machine tool with `arguments` unchanged and parses its output as a property
/// list. Nothing when the output is not one, or the tool can't be started. A tool that never
/// stops printing blocks the caller: choosing arguments that end is the caller's business.
STRANDEL_EXPORT std::optional<PlistValue> tmutil(const std::vector<std::string>& arguments);

// ---- APFS ----

/// The disk utility's APFS listing entry of the container whose reference (disk3, /dev/disk3)
/// or physical store (disk0s2, /dev/rdisk0s2) `device` names, as a new dictionary. Nothing on
/// a running OS older than 10.12, or when no container matches or the listing can't be read.
STRANDEL_EXPORT std::optional<PlistDict> getAPFSContainer(std::string_view device);

/// Whether the first mount-table entry whose mount point ends like `mountPath` (same last
/// "/component") has the type "apfs". False on an OS older than 10.12 or without such entry.
STRANDEL_EXPORT bool GetVolumeAPFS(std::string_view mountPath);

/// The BSD name of the volume whose first role is "System" ("Data", "Preboot", "Recovery") in
/// the container that `device` (container or volume, BSD name or device path) belongs to.
/// Nothing when none is found or the listing can't be read.
STRANDEL_EXPORT std::optional<std::string> getAPFSSystemVolume(std::string_view device);
STRANDEL_EXPORT std::optional<std::string> getAPFSDataVolume(std::string_view device);
STRANDEL_EXPORT std::optional<std::string> getAPFSPrebootVolume(std::string_view device);
STRANDEL_EXPORT std::optional<std::string> getAPFSRecoveryVolume(std::string_view device);

/// The role codes of `getAPFSVolumeRole`.
enum APFSVolumeRole : std::int32_t {
  APFSVolumeRoleSystem = 0,
  APFSVolumeRoleData = 1,
  APFSVolumeRolePreboot = 2,
  APFSVolumeRoleRecovery = 3,
  APFSVolumeRoleVM = 4,
  APFSVolumeRoleBackup = 5,
  APFSVolumeRoleNone = 6,
};

/// The role of the volume whose listing "DeviceIdentifier" is exactly `bsdName` (no "/dev/"),
/// from the first name of its "Roles". APFSVolumeRoleNone for any other name, no role, no such
/// volume or no listing.
STRANDEL_EXPORT APFSVolumeRole getAPFSVolumeRole(std::string_view bsdName);

// ---- OS version ----

/// The running OS version text (the version tool's first line), cached for good in the
/// settings under "ZVCurrentSWVers". Nothing when the version tool can't be started.
STRANDEL_EXPORT std::optional<std::string> ZVGetCurrentSystemString();

/// The version tool's report as label-to-value texts, cached for good under
/// "ZVCurrentSWVersDict", and written once to the log when it is made. Empty (and not cached)
/// when the version tool can't be started; never absent.
STRANDEL_EXPORT PlistDict ZVGetCurrentSystemDictionary();

/// -1, 0 or 1 as the running OS version orders before, equal to or after `version` (digit runs
/// compare by value). 0 when `version` is absent or "", or the running version is unknown.
STRANDEL_EXPORT std::int64_t ZVCompareCurrentSystemVersionWith(
    std::optional<std::string_view> version);

/// A deep copy of `value` that shares nothing with it; the caller owns the copy.
STRANDEL_EXPORT PlistValue ZVDeepMutableCopyPropertyListObject(const PlistValue& value);

// ---- Mount table ----

/// The mounted-from name of the first mount whose mount point equals `mountPoint` exactly;
/// "" when none does or the table can't be read.
STRANDEL_EXPORT std::string getVolumeMountFromName(std::optional<std::string_view> mountPoint);

/// The mount point of the first mount whose mounted-from name begins with the device path of
/// `device` (BSD name or device path) or contains its BSD name; "" when none does, when
/// `device` is absent or the table can't be read.
STRANDEL_EXPORT std::string getVolumeMountOnName(std::optional<std::string_view> device);

// ---- Full Disk Access ----

/// Whether the privacy database grants Full Disk Access to the application, its background
/// tool and the Rundle background agent. False on an OS older than 10.14 and on any failure.
STRANDEL_EXPORT bool isFullDiskAccessSetup();

// ---- Byte text and capacity ----

/// A byte count as a figure and a unit word ("500.11 GB"), in steps of 1000 (1024 on an OS
/// older than 10.6). An absent count reads as 0.
STRANDEL_EXPORT std::string ZVFoundationConvertBytesToStringValue(std::optional<double> bytes);

/// Rounds `bytes` down to whole mebibytes, stores the rounded count back into it and gives
/// the mebibytes followed by "M" ("476940M").
STRANDEL_EXPORT std::string ZVFoundationRoundByteCountToMBAndString(double& bytes);

/// The total, free (superuser reserve included) and used bytes of the file system holding
/// `path`; 0 when it can't be measured. The used size is negative when free exceeds total.
STRANDEL_EXPORT double ZVFoundationGetVolTotalSize(std::string_view path);
STRANDEL_EXPORT double ZVFoundationGetVolFreeSize(std::string_view path);
STRANDEL_EXPORT double ZVFoundationGetVolUsedSize(std::string_view path);

/// The used bytes of the APFS container of the volume mounted at `mountPoint` (its capacity
/// ceiling less its free space); without a container, `ZVFoundationGetVolUsedSize`.
STRANDEL_EXPORT double ZVFoundationGetAPFSVolUsedSize(std::string_view mountPoint);

/// `ZVFoundationGetVolUsedSize` and `ZVFoundationGetVolTotalSize` as byte text.
STRANDEL_EXPORT std::string ZVFoundationGetVolUsedSizeString(std::string_view path);
STRANDEL_EXPORT std::string ZVFoundationGetVolTotalSizeString(std::string_view path);

}  // namespace strandel

#endif  // STRANDEL_LANGUAGE_TOO_OLD
