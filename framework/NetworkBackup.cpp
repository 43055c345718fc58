#include "framework/NetworkBackup.hpp"

#include "framework/DescriptionValues.hpp"
#include "text/PathComponents.hpp"

namespace strandel::framework {

std::optional<std::string> networkBackupImageName(platform::Files& files) {
  auto preferences = files.readPlistFile("/Library/Preferences/com.apple.TimeMachine.plist");
  if (!preferences) return std::nullopt;
  const PlistValue* name = preferences->find("LocalizedDiskImageVolumeName");
  if (!name || !name->asString()) return std::nullopt;
  return *name->asString();
}

bool isNetworkBackupImage(platform::Registry& registry, std::string_view device,
                          const std::optional<std::string>& imageName) {
  // Without an image name no device can match, so the disk is not even looked up.
  if (!imageName) return false;
  auto description = registry.descriptionForBSDName(text::lastPathComponent(device));
  if (!description) return false;
  return descriptionTextView(*description, "DADeviceProtocol") == "Virtual Interface" &&
         descriptionTextView(*description, "DAVolumeName") == *imageName;
}

bool isNetworkTimeMachine(std::string_view device) {
  auto machine = platform::current();
  return isNetworkBackupImage(machine->registry(), device,
                              networkBackupImageName(machine->files()));
}

}  // namespace strandel::framework
