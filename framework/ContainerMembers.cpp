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
  entry.member = framework::GroupMember{
      framework::textValueOf(fields.mediaBSDName), framework::textValueOf(fields.volumeName),
      framework::textValueOf(fields.volumeKind), std::move(mountPath), mountUrl.has_value()};
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
      members.emplace_back(framework::memberDict(member.bsd,
                                                 std::int64_t{member.hasMountUrl ? 1 : 0},
                                                 member.kind, member.name, member.volpath));
    }
  }
  return framework::groupDict(containsBoot, std::move(members));
}

PlistDict framework::memberDict(PlistValue bsd, PlistValue isMounted, PlistValue kind,
                                PlistValue name, PlistValue volpath) {
  static constexpr std::string_view kKeys[] = {kMemberBsd, kMemberIsMounted, kMemberKind,
                                               kMemberName, kMemberVolpath};
  static const PlistDict kShape = framework::shapeOf(kKeys);
  PlistDict dict = kShape;
  auto at = dict.begin();
  for (PlistValue* value : {&bsd, &isMounted, &kind, &name, &volpath})
    (at++)->second = std::move(*value);
  return dict;
}

PlistDict framework::groupDict(bool containsBoot, PlistArray volumes) {
  static constexpr std::string_view kKeys[] = {kGroupContainsBoot, kGroupVolumes};
  static const PlistDict kShape = framework::shapeOf(kKeys);
  PlistDict group = kShape;
  group.begin()->second = containsBoot;
  (group.begin() + 1)->second = std::move(volumes);
  return group;
}

PlistDict StrandelFramework::volumesInAPFSContainer(std::string_view bsdName) {
  return framework::containerGroup(platform::current()->registry(), bsdName);
}

}  // namespace strandel
