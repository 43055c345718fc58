#include <algorithm>
#include <array>
#include <deque>
#include <unordered_map>
#include <utility>

#include <strandel/StrandelFramework.hpp>
#include <strandel/VolumeKeys.hpp>

#include "framework/ContainerMembers.hpp"
#include "framework/DescriptionValues.hpp"
#include "framework/Exclusions.hpp"
#include "framework/NetworkBackup.hpp"
#include "framework/PathText.hpp"
#include "framework/Translations.hpp"
#include "framework/VolumeRecord.hpp"
#include "text/NumericCompare.hpp"

namespace strandel {
namespace {

constexpr std::array<std::string_view, 4> kAcceptedKinds = {"hfs", "apfs", "msdos", "exfat"};
constexpr std::array<std::string_view, 2> kOpticalMediaTypes = {"DVD-R", "CD-ROM"};

bool isOneOf(std::string_view text, const auto& table) {
  return std::find(table.begin(), table.end(), text) != table.end();
}

// What one call of the volume list reads once and shares among its volumes. Everything here is
// taken within the one call, so it reads as if each volume had asked afresh.
struct ListContext {
  platform::Registry& registry;
  framework::TranslationMemo translations;
  std::optional<std::string> backupImageName;
  // What each media object adds to the group of a container it lies in, kept from the one
  // reading of its description, by registry object id.
  std::vector<std::pair<std::uint32_t, std::optional<framework::GroupEntry>>> groupEntries;
  // The group of an APFS container is the same for each of its volumes when taken at the same
  // moment, so it is built once per whole disk.
  std::unordered_map<std::string, PlistValue> groups;
};

// A record whose APFS group is still to be attached, under the whole disk it belongs to.
struct PendingRecord {
  std::string bsdName;
  PlistDict record;
  std::optional<std::string> apfsContainer;
};

// The drop tests answered from the description alone; they cost no registry search.
bool isDroppedByDescription(const framework::VolumeFacts& facts,
                            const framework::VolumeNames& names) {
  if (!isOneOf(facts.volumeKind, kAcceptedKinds)) return true;
  if (framework::isExcludedVolumeName(names.displayName)) return true;
  if (isOneOf(facts.mediaType, kOpticalMediaTypes)) return true;
  return !names.devicePath.starts_with("/dev/disk");
}

// The drop tests that search the registry, less the role test.
bool isDroppedByRegistry(ListContext& context, platform::RegistryObject object,
                         const framework::VolumeNames& names) {
  platform::Registry& registry = context.registry;
  if (framework::registryTruth(registry.searchProperty(object, "ATAPI"))) return true;
  if (framework::registryTruth(registry.searchProperty(object, "isMirroredIDiskImage2")))
    return true;
  if (framework::registryTruth(registry.searchProperty(object, "hdik-unique-identifier")))
    return true;
  if (framework::registryText(registry.searchProperty(object, "DiskImageURL")).find("Simulator") !=
      std::string::npos)
    return true;
  return framework::isNetworkBackupImage(registry, names.devicePath, context.backupImageName);
}

// The record of one media object without its APFS group, or nothing when the object is not a
// listed volume.
std::optional<PendingRecord> recordOf(ListContext& context, platform::RegistryObject object,
                                      const framework::DescriptionFields& fields) {
  // Objects that are not volumes (whole disks, partition maps, containers) have no kind.
  if (!isOneOf(framework::textOf(fields.volumeKind), kAcceptedKinds)) return std::nullopt;
  framework::VolumeFacts facts = framework::readVolumeFacts(fields);
  framework::VolumeNames names = framework::deriveNames(facts);
  // The drop tests don't depend on one another, so the cheapest run first: those answered
  // from the description, then the role, which drops most of the volumes of a container (all
  // but its system and backup ones) for one registry search, then the other searches.
  if (isDroppedByDescription(facts, names)) return std::nullopt;
  PlistValue role = framework::firstRole(context.registry.searchProperty(object, "Role"));
  if (const std::string& text = *role.asString();
      text != "System" && text != "Backup" && !text.empty())
    return std::nullopt;
  if (isDroppedByRegistry(context, object, names)) return std::nullopt;
  // An APFS group comes after the role test (and after the walk): making it changes nothing a
  // caller could see, and a volume that the test drops needs none.
  std::optional<std::string> container;
  PlistValue group;
  if (framework::isApfsContent(facts.content)) {
    container = framework::wholeDiskName(facts.bsdName);
  } else {
    group = framework::singleFormGroup(facts, names);
  }
  framework::VolumeLabels labels = framework::deriveLabels(facts, names, context.translations);
  std::string bsdName(facts.bsdName);
  return PendingRecord{std::move(bsdName),
                       framework::volumeRecord(facts, std::move(names), std::move(labels),
                                               std::move(group), std::move(role)),
                       std::move(container)};
}

PlistValue& apfsGroup(ListContext& context, const std::string& whole) {
  auto found = context.groups.find(whole);
  if (found != context.groups.end()) return found->second;
  std::optional<framework::GroupEntry> other;
  PlistValue group = framework::containerGroup(
      context.registry, whole,
      [&](platform::RegistryObject object) -> const framework::GroupEntry* {
        auto& entries = context.groupEntries;
        auto at =
            std::lower_bound(entries.begin(), entries.end(), object.id,
                             [](const auto& entry, std::uint32_t id) { return entry.first < id; });
        if (at != entries.end() && at->first == object.id)
          return at->second ? &*at->second : nullptr;
        // Not a media object: the registry may still make a disk of it.
        auto description = context.registry.description(object);
        other = description ? std::optional(framework::groupEntryOf(
                                  framework::scanDescription(*description), true))
                            : std::nullopt;
        return other ? &*other : nullptr;
      });
  return context.groups.emplace(whole, std::move(group)).first->second;
}

}  // namespace

PlistArray StrandelFramework::volumeList() {
  framework::putExclusionListInForce();
  auto machine = platform::current();
  ListContext context{machine->registry(),
                      framework::TranslationMemo(machine->localizer()),
                      framework::networkBackupImageName(machine->files()),
                      {},
                      {}};

  // One walk reads each description once, for the object's own record and for the group of
  // any container it lies in; the groups are attached once the walk has seen every object.
  std::vector<platform::RegistryObject> objects = context.registry.mediaObjects();
  context.groupEntries.reserve(objects.size());
  // A deque grows in small blocks: a vector's doubling would ask the allocator for ever larger
  // blocks, and each such request makes it sweep every small block freed so far.
  std::deque<PendingRecord> records;
  for (platform::RegistryObject object : objects) {
    if (context.registry.className(object).starts_with("AppleAPFSSnapshot")) {
      // A snapshot is never listed, but it is a member of its container's group.
      auto description = context.registry.description(object);
      context.groupEntries.emplace_back(
          object.id, description ? std::optional(framework::groupEntryOf(
                                       framework::scanDescription(*description), true))
                                 : std::nullopt);
      continue;
    }
    auto description = context.registry.description(object);
    if (!description) {
      context.groupEntries.emplace_back(object.id, std::nullopt);
      continue;
    }
    framework::DescriptionFields fields = framework::scanDescription(*description);
    context.groupEntries.emplace_back(object.id, framework::groupEntryOf(fields, true));
    if (auto record = recordOf(context, object, fields)) records.push_back(std::move(*record));
  }
  // Registries list their media objects by id as a rule; a sort would still move every entry.
  auto byId = [](const auto& a, const auto& b) { return a.first < b.first; };
  if (!std::is_sorted(context.groupEntries.begin(), context.groupEntries.end(), byId)) {
    std::sort(context.groupEntries.begin(), context.groupEntries.end(), byId);
  }
  // The records of one container share its group: a copy of a value shares its contents.
  context.groups.reserve(records.size());
  for (PendingRecord& pending : records) {
    if (!pending.apfsContainer) continue;
    pending.record.find(kVolumeGroup)->second = apfsGroup(context, *pending.apfsContainer);
  }

  // Records with equal BSD names may come in any order (distinct media objects have distinct
  // names), so an unstable sort serves; it sorts pointers, which move eight bytes a step where
  // a pending record is a dozen words.
  std::vector<PendingRecord*> order;
  order.reserve(records.size());
  for (PendingRecord& pending : records) order.push_back(&pending);
  auto byName = [](const PendingRecord* a, const PendingRecord* b) {
    return text::numericCompare(a->bsdName, b->bsdName) < 0;
  };
  // Registries made in disk order list the records in order already: one pass tells.
  if (!std::is_sorted(order.begin(), order.end(), byName))
    std::sort(order.begin(), order.end(), byName);
  PlistArray list;
  list.reserve(records.size());
  for (PendingRecord* pending : order) list.emplace_back(std::move(pending->record));
  return list;
}

}  // namespace strandel
