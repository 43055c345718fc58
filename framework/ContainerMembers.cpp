#include "framework/ContainerMembers.hpp"

#include <strandel/StrandelFramework.hpp>
#include <strandel/VolumeKeys.hpp>

#include "framework/Exclusions.hpp"
#include "framework/PathText.hpp"

using namespace strandel::detail;

namespace strandel {

GroupEntry detail::groupEntryOf(const DescriptionFields& fields, bool excluding) {
  GroupEntry entry;
  std::optional<std::string_view> mountUrl = urlTextOf(fields.volumePath);
  std::string mountPath = mountUrl ? detail::urlPath(*mountUrl) : std::string();
  // The boot test comes before the exclusion test: a hidden volume mounted at "/" still tells
  // that the container holds the running system.
  entry.mountedAtRoot = mountPath == "/";
  std::string_view name = textOf(fields.volumeName);
  if (excluding && isExcludedVolumeName(name)) return entry;
  entry.member = GroupMember{std::string(textOf(fields.mediaBSDName)), std::string(name),
                             std::string(textOf(fields.volumeKind)), std::move(mountPath), mountUrl.has_value()};
  return entry;
}

PlistDict detail::containerGroup(platform::Registry& registry, std::string_view bsdName) {
  bool excluding = exclusionListInForce();
  GroupEntry latest;
  return containerGroup(registry, bsdName, [&](platform::RegistryObject object) -> const GroupEntry* {
    auto description = registry.description(object);
    if (!description) return nullptr;
    latest = groupEntryOf(scanDescription(*description), excluding);
    return &latest;
  });
}

PlistDict detail::containerGroup(platform::Registry& registry, std::string_view bsdName, const GroupEntryOf& entryOf) {
  PlistArray members;
  bool containsBoot = false;
  if (auto whole = registry.mediaObjectForBSDName(detail::wholeDiskName(bsdName))) {
    std::vector<platform::RegistryObject> below = registry.descendants(*whole);
    members.reserve(below.size());
    for (platform::RegistryObject object : below) {
      const GroupEntry* entry = entryOf(object);
      if (!entry) continue;
      containsBoot = containsBoot || entry->mountedAtRoot;
      if (!entry->member) continue;
      const GroupMember& member = *entry->member;
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
  return containerGroup(platform::current()->registry(), bsdName);
}

}  // namespace strandel
