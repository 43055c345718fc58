// Recognising the mounted disk image of a network Time Machine backup, with the preferences
// read apart so that the volume list reads them once for all its volumes.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/Machine.hpp"

namespace strandel::framework {

/// The name that the Time Machine preferences give the volume of their disk image
/// ("LocalizedDiskImageVolumeName"); nothing when the file, its dictionary or the text is missing.
std::optional<std::string> networkBackupImageName(platform::Files& files);

/// Whether the device (a device path or a BSD name; only its last path component counts) has
/// the protocol "Virtual Interface" and the volume name `imageName`, both exactly. False
/// without an image name or when no disk description can be made for it.
bool isNetworkBackupImage(platform::Registry& registry, std::string_view device,
                          const std::optional<std::string>& imageName);

}  // namespace strandel::framework

namespace strandel::framework {

/// Whether `device` is the mounted disk image of a network Time Machine backup, by the
/// preferences and the registry of the current machine. False when either can't be read.
bool isNetworkTimeMachine(std::string_view device);

}  // namespace strandel::framework
