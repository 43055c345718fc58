#include <algorithm>
#include <array>
#include <unordered_map>
#include <utility>

#include <strandel/Strandel.hpp>

#include "framework/ContainerMembers.hpp"
#include "framework/DescriptionValues.hpp"
#include "framework/Exclusions.hpp"
#include "framework/NetworkBackup.hpp"
#include "framework/NumericCompare.hpp"
#include "framework/PathText.hpp"
#include "framework/Translations.hpp"
#include "framework/VolumeRecord.hpp"

namespace strandel {
namespace {

constexpr std::array<std::string_view, 4> kAcceptedKinds = {"hfs", "apfs", "msdos", "exfat"};
constexpr std::array<std::string_view, 2> kOpticalMediaTypes = {"DVD-R", "CD-ROM"};

bool isOneOf(std::string_view text, const auto& table) {
  return std::find(table.begin(), table.end(), text) != table.end();
}

// What one call of the volume list reads once and shares among its volumes. Everything here
// is taken within the one call, so it reads as if each volume had asked afresh.
struct ListContext {
  platform::Registry& registry;
  TranslationMemo translations;
  std::optional<std::string> backupImageName;
  // The group of an APFS container is the same for each of its volumes when taken at the
  // same moment, so it is built once per whole disk.
  std::unordered_map<std::string, PlistValue> groups;
};

bool isDropped(ListContext& context, platform::RegistryObject object, const VolumeFacts& facts,
               const VolumeDisplay& display) {
  // The nine tests don't depend on one another; the ones answered from the description run
  // first so that most objects never cost a registry search.
  if (!isOneOf(facts.volumeKind, kAcceptedKinds)) return true;
  if (isExcludedVolumeName(display.displayName)) return true;
  if (isOneOf(facts.mediaType, kOpticalMediaTypes)) return true;
  if (!display.devicePath.starts_with("/dev/disk")) return true;
  platform::Registry& registry = context.registry;
  if (registryTruth(registry.searchProperty(object, "ATAPI"))) return true;
  if (registryTruth(registry.searchProperty(object, "isMirroredIDiskImage2"))) return true;
  if (registryTruth(registry.searchProperty(object, "hdik-unique-identifier"))) return true;
  if (registryText(registry.searchProperty(object, "DiskImageURL")).find("Simulator") != std::string::npos) return true;
  return isNetworkBackupImage(registry, display.devicePath, context.backupImageName);
}

const PlistValue& apfsGroup(ListContext& context, const std::string& bsdName) {
  std::string whole = wholeDiskName(bsdName);
  auto found = context.groups.find(whole);
  if (found != context.groups.end()) return found->second;
  return context.groups.emplace(std::move(whole), containerGroup(context.registry, bsdName)).first->second;
}

// The record of one media object, or nothing when the object is not a listed volume.
std::optional<PlistDict> recordOf(ListContext& context, platform::RegistryObject object) {
  if (context.registry.className(object).starts_with("AppleAPFSSnapshot")) return std::nullopt;
  auto description = context.registry.description(object);
  if (!description) return std::nullopt;
  VolumeFacts facts = readVolumeFacts(*description);
  VolumeDisplay display = deriveDisplay(facts, context.translations);
  if (isDropped(context, object, facts, display)) return std::nullopt;

  std::string role = firstRole(context.registry.searchProperty(object, "Role"));
  if (role != "System" && role != "Backup" && !role.empty()) return std::nullopt;
  bool isApfs = facts.content == "41504653-0000-11AA-AA11-00306543ECAC";
  PlistValue group = isApfs ? apfsGroup(context, facts.bsdName) : PlistValue(singleFormGroup(facts, display));
  return volumeRecord(facts, display, std::move(group), std::move(role));
}

}  // namespace

PlistArray StrandelFramework::volumeList() {
  putExclusionListInForce();
  auto machine = platform::current();
  ListContext context{machine->registry(), TranslationMemo(machine->localizer()),
                      networkBackupImageName(machine->files()), {}};

  std::vector<std::pair<std::string, PlistDict>> records;
  for (platform::RegistryObject object : context.registry.mediaObjects()) {
    if (auto record = recordOf(context, object)) {
      std::string bsdName = *record->at("bsdName").asString();
      records.emplace_back(std::move(bsdName), std::move(*record));
    }
  }
  std::stable_sort(records.begin(), records.end(),
                   [](const auto& a, const auto& b) { return numericCompare(a.first, b.first) < 0; });

  PlistArray list;
  list.reserve(records.size());
  for (auto& entry : records) list.emplace_back(std::move(entry.second));
  return list;
}

}  // namespace strandel
