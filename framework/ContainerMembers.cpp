#include "framework/ContainerMembers.hpp"

#include <strandel/StrandelFramework.hpp>
#include <strandel/VolumeKeys.hpp>

#include "framework/Exclusions.hpp"
#include "framework/PathText.hpp"

namespace strandel {

framework::GroupEntry framework::groupEntryOf(const framework::DescriptionFields& fields,
                                              bool excluding) {
  framework::GroupEntry entry;
  std::optional<std::string_view> mountUrl = framework::urlTextOf(fields.volumePath);
  std::string mountPath = mountUrl ? text::urlPath(*mountUrl) : std::string();
  // The boot test comes before the exclusion test: a hidden volume mounted at "/" still tells
  // that the container holds the running system.
  entry.mountedAtRoot = mountPath == "/";
  std::string_view name = framework::textOf(fields.volumeName);
  if (excluding && framework::isExcludedVolumeName(name)) return entry;
  entry.member =
      framework::GroupMember{std::string(framework::textOf(fields.mediaBSDName)), std::string(name),
                             std::string(framework::textOf(fields.volumeKind)),
                             std::move(mountPath), mountUrl.has_value()};
  return entry;
}

PlistDict framework::containerGroup(platform::Registry& registry, std::string_view bsdName) {
  bool excluding = framework::exclusionListInForce();
  framework::GroupEntry latest;
  return framework::containerGroup(
      registry, bsdName, [&](platform::RegistryObject object) -> const framework::GroupEntry* {
        auto description = registry.description(object);
        if (!description) return nullptr;
        latest = framework::groupEntryOf(framework::scanDescription(*description), excluding);
        return &latest;
      });
}

PlistDict framework::containerGroup(platform::Registry& registry, std::string_view bsdName,
                                    const framework::GroupEntryOf& entryOf) {
  PlistArray members;
  bool containsBoot = false;
  if (auto whole = registry.mediaObjectForBSDName(framework::wholeDiskName(bsdName))) {
    std::vector<platform::RegistryObject> below = registry.descendants(*whole);
    members.reserve(below.size());
    for (platform::RegistryObject object : below) {
      const framework::GroupEntry* entry = entryOf(object);
      if (!entry) continue;
      containsBoot = containsBoot || entry->mountedAtRoot;
      if (!entry->member) continue;
      const framework::GroupMember& member = *entry->member;
      // The keys go in in their sorted order, each at the end, so no insertion searches the tree.
      PlistDict dict;
      dict.emplace_hint(dict.end(), kMemberBsd, member.bsd);
      dict.emplace_hint(dict.end(), kMemberIsMounted, std::int64_t{member.hasMountUrl ? 1 : 0});
      dict.emplace_hint(dict.end(), kMemberKind, member.kind);
      dict.emplace_hint(dict.end(), kMemberName, member.name);
      dict.emplace_hint(dict.end(), kMemberVolpath, member.volpath);
      members.emplace_back(std::move(dict));
    }
  }
  // Built key by key: a braced list would copy every member out of it.
  PlistDict group;
  group.emplace_hint(group.end(), kGroupContainsBoot, containsBoot);
  group.emplace_hint(group.end(), kGroupVolumes, std::move(members));
  return group;
}

PlistDict StrandelFramework::volumesInAPFSContainer(std::string_view bsdName) {
  return framework::containerGroup(platform::current()->registry(), bsdName);
}

}  // namespace strandel
