#include "framework/VolumeRecord.hpp"

#include <algorithm>
#include <iterator>

#include <strandel/VolumeKeys.hpp>

#include "framework/ByteLabel.hpp"
#include "framework/ContainerMembers.hpp"
#include "framework/PathText.hpp"
#include "plist/LastingTexts.hpp"
#include "text/PathComponents.hpp"

namespace strandel::framework {
namespace {

bool isHfsContent(std::string_view content) {
  // An empty content counts as HFS: the oldest partition schemes give none for HFS volumes.
  return content.empty() || content == "48465300-0000-11AA-AA11-00306543ECAC" ||
         content == "Apple_HFS" || content == "Apple_HFSX";
}

}  // namespace

bool isApfsContent(std::string_view content) {
  return content == "41504653-0000-11AA-AA11-00306543ECAC";
}

VolumeFacts readVolumeFacts(const DescriptionFields& fields) {
  VolumeFacts facts;
  facts.internal = flagOf(fields.deviceInternal);
  facts.size = byteCountOf(fields.mediaSize);
  facts.mediaType = textOf(fields.mediaType);
  facts.content = textOf(fields.mediaContent);
  facts.protocol = textOf(fields.deviceProtocol);
  facts.bsdName = textOf(fields.mediaBSDName);
  facts.volumeName = textOf(fields.volumeName);
  facts.volumeKind = textOf(fields.volumeKind);
  facts.volumeType = textOf(fields.volumeType);
  facts.volumeUUID = textOf(fields.volumeUUID);
  facts.mediaUUID = textOf(fields.mediaUUID);
  facts.mountUrl = urlTextOf(fields.volumePath);
  facts.fields = fields;
  return facts;
}

namespace {

// The format label of a volume kind: "HFS+", "APFS", the volume type for "msdos", "ExFAT";
// nothing for any other kind.
std::optional<std::string_view> formatLabelFor(std::string_view kind, std::string_view volumeType) {
  if (kind == "hfs") return "HFS+";
  if (kind == "apfs") return "APFS";
  if (kind == "msdos") return volumeType;
  if (kind == "exfat") return "ExFAT";
  return std::nullopt;
}

// `text` as a value: the description's own text when `text` is a view of it, else one of the
// texts that many records carry, made once and shared by all of them.
PlistValue sharedText(std::string_view text, const PlistValue* from = nullptr) {
  static const PlistValue kTexts[] = {
      detail::LastingTexts::text("Internal"), detail::LastingTexts::text("External"),
      detail::LastingTexts::text("HFS+"), detail::LastingTexts::text("APFS"),
      detail::LastingTexts::text("ExFAT")};
  for (const PlistValue& shared : kTexts)
    if (*shared.asString() == text) return shared;
  return textValueOf(from, text);
}

}  // namespace

VolumeNames deriveNames(const VolumeFacts& facts) {
  VolumeNames names;
  names.location = facts.internal ? "Internal" : "External";
  if (facts.mountUrl) names.mountPath = text::urlPath(*facts.mountUrl);
  names.devicePath.reserve(5 + facts.bsdName.size());
  names.devicePath.append("/dev/").append(facts.bsdName);
  if (!facts.volumeName.empty()) {
    names.displayName = facts.volumeName;
  } else if (!names.mountPath.empty()) {
    names.displayName = text::lastPathComponent(names.mountPath);
  } else {
    names.displayName = facts.bsdName;
  }
  return names;
}

VolumeLabels deriveLabels(const VolumeFacts& facts, const VolumeNames& names,
                          TranslationMemo& translations) {
  VolumeLabels labels;
  ByteLabelParts size = byteLabelParts(static_cast<double>(facts.size));
  std::string byteLabel =
      formatByteLabel(size, translations.translate(size.unitWord, "ZorvikLocal"));
  labels.nameWithSize.reserve(names.displayName.size() + byteLabel.size() + 3);
  labels.nameWithSize.append(names.displayName).append(" (").append(byteLabel).append(")");
  // A kind without a format label never reaches the labels (the kind test drops it); "" stands
  // in for the label it lacks.
  labels.formatLabel = formatLabelFor(facts.volumeKind, facts.volumeType).value_or("");
  std::string_view typeKey = !facts.volumeType.empty() ? facts.volumeType : labels.formatLabel;
  // Every piece is at hand before the tooltip is written: one allocation, no regrowth.
  const std::string_view pieces[] = {labels.nameWithSize,
                                     "\n",
                                     facts.bsdName,
                                     "\n",
                                     translations.translate(typeKey, ""),
                                     "\n",
                                     translations.translate(names.location, "ZorvikLocal"),
                                     " ",
                                     translations.translate(facts.protocol, "ZorvikLocal")};
  std::size_t length = 0;
  for (std::string_view piece : pieces) length += piece.size();
  labels.tooltip.reserve(length);
  for (std::string_view piece : pieces) labels.tooltip.append(piece);
  return labels;
}

PlistDict singleFormGroup(const VolumeFacts& facts, const VolumeNames& names) {
  PlistArray volumes;
  volumes.emplace_back(memberDict(
      textValueOf(facts.fields.mediaBSDName, facts.bsdName), !names.mountPath.empty(),
      textValueOf(facts.fields.volumeKind, facts.volumeKind), names.displayName, names.mountPath));
  return groupDict(names.mountPath == "/", std::move(volumes));
}

namespace {

// The record's keys in their sorted order, the order volumeRecord fills them in.
constexpr std::string_view kRecordKeys[] = {
    kVolumeBsdName,  kVolumeConnection, kVolumeContent, kVolumeDevicePath, kVolumeIsAPFS,
    kVolumeIsBoot,   kVolumeIsFVapfs,   kVolumeIsHFS,   kVolumeIsJournal,  kVolumeIsMounted,
    kVolumeLocation, kVolumeMediaUUID,  kVolumeRole,    kVolumeSize,       kVolumeTooltip,
    kVolumeFmt,      kVolumeGroup,      kVolumeKind,    kVolumeName,       kVolumeNameSize,
    kVolumePath,     kVolumeType,       kVolumeURL,     kVolumeUUID,
};
static_assert(std::is_sorted(std::begin(kRecordKeys), std::end(kRecordKeys)),
              "volumeRecord fills the keys in order");

// A record with every key and placeholder values. Copying it copies its entries in one block,
// which costs less than inserting the keys one by one.
const PlistDict& recordShape() {
  static const PlistDict shape = shapeOf(kRecordKeys);
  return shape;
}

}  // namespace

PlistDict volumeRecord(const VolumeFacts& facts, VolumeNames names, VolumeLabels labels,
                       PlistValue group, PlistValue role) {
  bool mounted = !names.mountPath.empty();
  bool boot = names.mountPath == "/";
  PlistDict record = recordShape();
  // The values go in in the keys' order, each into the next entry.
  auto next = record.begin();
  auto put = [&next](PlistValue value) { (next++)->second = std::move(value); };
  const DescriptionFields& from = facts.fields;
  put(textValueOf(from.mediaBSDName, facts.bsdName));
  put(textValueOf(from.deviceProtocol, facts.protocol));
  put(textValueOf(from.mediaContent, facts.content));
  put(std::move(names.devicePath));
  put(isApfsContent(facts.content));
  put(boot);
  put(facts.volumeType.find("Encrypted") != std::string_view::npos);
  put(isHfsContent(facts.content));
  put(facts.volumeType.find("Journaled") != std::string_view::npos);
  put(mounted);
  put(sharedText(names.location));
  put(textValueOf(from.mediaUUID, facts.mediaUUID));
  put(std::move(role));
  put(facts.size);
  put(std::move(labels.tooltip));
  put(sharedText(labels.formatLabel, from.volumeType));  // msdos: the volume type itself
  put(std::move(group));
  put(textValueOf(from.volumeKind, facts.volumeKind));
  // A volume's own name is its display name whenever it has one.
  put(facts.volumeName.empty() ? PlistValue(std::move(names.displayName))
                               : textValueOf(from.volumeName, facts.volumeName));
  put(std::move(labels.nameWithSize));
  put(std::move(names.mountPath));
  put(textValueOf(from.volumeType, facts.volumeType));
  put(urlValueOf(from.volumePath, facts.mountUrl));
  put(textValueOf(from.volumeUUID, facts.volumeUUID));
  return record;
}

}  // namespace strandel::framework
