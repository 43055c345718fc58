#include <strandel/Strandel.hpp>

namespace strandel {
// Not built yet: the APFS lookups are their own change.
std::optional<PlistDict> getAPFSContainer(std::string_view) { return std::nullopt; }
bool GetVolumeAPFS(std::string_view) { return false; }
std::optional<std::string> getAPFSSystemVolume(std::string_view) { return std::nullopt; }
std::optional<std::string> getAPFSDataVolume(std::string_view) { return std::nullopt; }
std::optional<std::string> getAPFSPrebootVolume(std::string_view) { return std::nullopt; }
std::optional<std::string> getAPFSRecoveryVolume(std::string_view) { return std::nullopt; }
APFSVolumeRole getAPFSVolumeRole(std::string_view) { return APFSVolumeRoleNone; }
}  // namespace strandel
