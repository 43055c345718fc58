// The exported APFS queries.
#include <strandel/Strandel.hpp>

#include <utility>

#include "apfs/ApfsContainer.hpp"
#include "apfs/ApfsRoles.hpp"

namespace strandel {

std::optional<PlistDict> getAPFSContainer(std::string_view device) {
  return apfs::container(device);
}

bool GetVolumeAPFS(std::string_view mountPath) { return apfs::isApfsMount(mountPath); }

std::optional<std::string> getAPFSSystemVolume(std::string_view device) {
  return apfs::roleVolume(device, "System");
}
std::optional<std::string> getAPFSDataVolume(std::string_view device) {
  return apfs::roleVolume(device, "Data");
}
std::optional<std::string> getAPFSPrebootVolume(std::string_view device) {
  return apfs::roleVolume(device, "Preboot");
}
std::optional<std::string> getAPFSRecoveryVolume(std::string_view device) {
  return apfs::roleVolume(device, "Recovery");
}

APFSVolumeRole getAPFSVolumeRole(std::string_view bsdName) {
  std::optional<std::string> name = apfs::firstRoleOfVolume(bsdName);
  if (!name) return APFSVolumeRoleNone;
  static constexpr std::pair<std::string_view, APFSVolumeRole> kRoles[] = {
      {"System", APFSVolumeRoleSystem},   {"Data", APFSVolumeRoleData},
      {"Preboot", APFSVolumeRolePreboot}, {"Recovery", APFSVolumeRoleRecovery},
      {"VM", APFSVolumeRoleVM},           {"Backup", APFSVolumeRoleBackup},
  };
  for (const auto& [roleName, code] : kRoles) {
    if (*name == roleName) return code;
  }
  return APFSVolumeRoleNone;
}

}  // namespace strandel
