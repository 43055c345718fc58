#include "framework/ContainerMembers.hpp"

#include <strandel/StrandelFramework.hpp>

#include "framework/DescriptionValues.hpp"
#include "framework/Exclusions.hpp"
#include "framework/PathText.hpp"

namespace strandel {

PlistDict containerGroup(platform::Registry& registry, std::string_view bsdName) {
  PlistArray members;
  bool containsBoot = false;
  if (auto whole = registry.mediaObjectForBSDName(wholeDiskName(bsdName))) {
    bool excluding = exclusionListInForce();
    for (platform::RegistryObject object : registry.descendants(*whole)) {
      auto description = registry.description(object);
      if (!description) continue;
      std::optional<PlistUrl> mountUrl = descriptionUrl(*description, "DAVolumePath");
      std::string mountPath = mountUrl ? urlPath(mountUrl->text) : std::string();
      // The boot test comes before the exclusion test: a hidden volume mounted at "/" still
      // tells that the container holds the running system.
      if (mountPath == "/") containsBoot = true;
      std::string name = descriptionText(*description, "DAVolumeName");
      if (excluding && isExcludedVolumeName(name)) continue;
      members.push_back(PlistDict{
          {"bsd", PlistValue(descriptionText(*description, "DAMediaBSDName"))},
          {"name", PlistValue(std::move(name))},
          {"kind", PlistValue(descriptionText(*description, "DAVolumeKind"))},
          {"volpath", PlistValue(std::move(mountPath))},
          {"isMounted", PlistValue(std::int64_t{mountUrl ? 1 : 0})},
      });
    }
  }
  return PlistDict{{"containsBoot", PlistValue(containsBoot)}, {"volumes", PlistValue(std::move(members))}};
}

PlistDict StrandelFramework::volumesInAPFSContainer(std::string_view bsdName) {
  return containerGroup(platform::current()->registry(), bsdName);
}

}  // namespace strandel
