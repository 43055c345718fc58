#include "framework/VolumeRecord.hpp"

#include "framework/ByteLabel.hpp"
#include "framework/DescriptionValues.hpp"
#include "framework/PathText.hpp"

namespace strandel {
namespace {

constexpr std::string_view kApfsContent = "41504653-0000-11AA-AA11-00306543ECAC";

bool isHfsContent(std::string_view content) {
  // An empty content counts as HFS: the oldest partition schemes give none for HFS volumes.
  return content.empty() || content == "48465300-0000-11AA-AA11-00306543ECAC" || content == "Apple_HFS" ||
         content == "Apple_HFSX";
}

}  // namespace

VolumeFacts readVolumeFacts(const PlistDict& description) {
  VolumeFacts facts;
  facts.internal = descriptionFlag(description, "DADeviceInternal");
  facts.size = descriptionByteCount(description, "DAMediaSize");
  facts.mediaType = descriptionText(description, "DAMediaType");
  facts.content = descriptionText(description, "DAMediaContent");
  facts.protocol = descriptionText(description, "DADeviceProtocol");
  facts.bsdName = descriptionText(description, "DAMediaBSDName");
  facts.volumeName = descriptionText(description, "DAVolumeName");
  facts.volumeKind = descriptionText(description, "DAVolumeKind");
  facts.volumeType = descriptionText(description, "DAVolumeType");
  facts.volumeUUID = descriptionText(description, "DAVolumeUUID");
  facts.mediaUUID = descriptionText(description, "DAMediaUUID");
  facts.mountUrl = descriptionUrl(description, "DAVolumePath");
  return facts;
}

std::optional<std::string> formatLabelFor(std::string_view kind, std::string_view volumeType) {
  if (kind == "hfs") return "HFS+";
  if (kind == "apfs") return "APFS";
  if (kind == "msdos") return std::string(volumeType);
  if (kind == "exfat") return "ExFAT";
  return std::nullopt;
}

VolumeDisplay deriveDisplay(const VolumeFacts& facts, TranslationMemo& translations) {
  VolumeDisplay display;
  display.location = facts.internal ? "Internal" : "External";
  display.mountPath = facts.mountUrl ? urlPath(facts.mountUrl->text) : std::string();
  display.devicePath = "/dev/" + facts.bsdName;
  if (!facts.volumeName.empty()) {
    display.displayName = facts.volumeName;
  } else if (!display.mountPath.empty()) {
    display.displayName = lastPathComponent(display.mountPath);
  } else {
    display.displayName = facts.bsdName;
  }

  ByteLabelParts size = byteLabelParts(static_cast<double>(facts.size));
  display.nameWithSize = display.displayName + " (" +
                         formatByteLabel(size, translations.translate(size.unitWord, "ZorvikLocal")) + ")";
  display.formatLabel = formatLabelFor(facts.volumeKind, facts.volumeType);

  // A kind without a format label is dropped by the kind test, so its type label never shows;
  // "" stands in for the label it lacks.
  std::string_view typeKey = !facts.volumeType.empty() ? std::string_view(facts.volumeType)
                             : display.formatLabel     ? std::string_view(*display.formatLabel)
                                                       : std::string_view();
  display.tooltip = display.nameWithSize + "\n" + facts.bsdName + "\n" + translations.translate(typeKey, "") +
                    "\n" + translations.translate(display.location, "ZorvikLocal") + " " +
                    translations.translate(facts.protocol, "ZorvikLocal");
  return display;
}

PlistDict singleFormGroup(const VolumeFacts& facts, const VolumeDisplay& display) {
  PlistDict member{
      {"bsd", PlistValue(facts.bsdName)},
      {"name", PlistValue(display.displayName)},
      {"kind", PlistValue(facts.volumeKind)},
      {"volpath", PlistValue(display.mountPath)},
      {"isMounted", PlistValue(!display.mountPath.empty())},
  };
  return PlistDict{{"containsBoot", PlistValue(display.mountPath == "/")},
                   {"volumes", PlistValue(PlistArray{PlistValue(std::move(member))})}};
}

PlistDict volumeRecord(const VolumeFacts& facts, const VolumeDisplay& display, PlistValue group, std::string role) {
  bool mounted = !display.mountPath.empty();
  PlistDict record;
  record.emplace("devicePath", display.devicePath);
  record.emplace("bsdName", facts.bsdName);
  record.emplace("volumeName", display.displayName);
  record.emplace("volumeName_Size", display.nameWithSize);
  // Not mounted: the empty URL, whose text is "" and which yields no path.
  record.emplace("volumeURL", facts.mountUrl ? *facts.mountUrl : PlistUrl{});
  record.emplace("volumePath", display.mountPath);
  record.emplace("volumeFmt", display.formatLabel.value_or(""));
  record.emplace("volumeKind", facts.volumeKind);
  record.emplace("volumeType", facts.volumeType);
  record.emplace("volumeUUID", facts.volumeUUID);
  record.emplace("mediaUUID", facts.mediaUUID);
  record.emplace("content", facts.content);
  record.emplace("connection", facts.protocol);
  record.emplace("location", display.location);
  record.emplace("isAPFS", facts.content == kApfsContent);
  record.emplace("isHFS", isHfsContent(facts.content));
  record.emplace("isMounted", mounted);
  record.emplace("isBoot", display.mountPath == "/");
  record.emplace("isJournal", facts.volumeType.find("Journaled") != std::string::npos);
  record.emplace("isFVapfs", facts.volumeType.find("Encrypted") != std::string::npos);
  record.emplace("size", facts.size);
  record.emplace("tooltip", display.tooltip);
  record.emplace("volumeGroup", std::move(group));
  record.emplace("role", std::move(role));
  return record;
}

}  // namespace strandel
