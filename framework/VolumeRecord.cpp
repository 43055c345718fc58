#include "framework/VolumeRecord.hpp"

#include "framework/ByteLabel.hpp"
#include "framework/PathText.hpp"
#include "text/PathComponents.hpp"

namespace strandel {
namespace {

bool isHfsContent(std::string_view content) {
  // An empty content counts as HFS: the oldest partition schemes give none for HFS volumes.
  return content.empty() || content == "48465300-0000-11AA-AA11-00306543ECAC" || content == "Apple_HFS" ||
         content == "Apple_HFSX";
}

}  // namespace

bool isApfsContent(std::string_view content) { return content == "41504653-0000-11AA-AA11-00306543ECAC"; }

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
  return facts;
}

std::optional<std::string> formatLabelFor(std::string_view kind, std::string_view volumeType) {
  if (kind == "hfs") return "HFS+";
  if (kind == "apfs") return "APFS";
  if (kind == "msdos") return std::string(volumeType);
  if (kind == "exfat") return "ExFAT";
  return std::nullopt;
}

VolumeNames deriveNames(const VolumeFacts& facts) {
  VolumeNames names;
  names.location = facts.internal ? "Internal" : "External";
  if (facts.mountUrl) names.mountPath = urlPath(*facts.mountUrl);
  names.devicePath.reserve(5 + facts.bsdName.size());
  names.devicePath.append("/dev/").append(facts.bsdName);
  if (!facts.volumeName.empty()) {
    names.displayName = facts.volumeName;
  } else if (!names.mountPath.empty()) {
    names.displayName = lastPathComponent(names.mountPath);
  } else {
    names.displayName = facts.bsdName;
  }
  return names;
}

VolumeLabels deriveLabels(const VolumeFacts& facts, const VolumeNames& names, TranslationMemo& translations) {
  VolumeLabels labels;
  ByteLabelParts size = byteLabelParts(static_cast<double>(facts.size));
  labels.nameWithSize.append(names.displayName)
      .append(" (")
      .append(formatByteLabel(size, translations.translate(size.unitWord, "ZorvikLocal")))
      .append(")");
  // A kind without a format label never reaches the labels (the kind test drops it); "" stands
  // in for the label it lacks.
  labels.formatLabel = formatLabelFor(facts.volumeKind, facts.volumeType).value_or("");
  std::string_view typeKey = !facts.volumeType.empty() ? facts.volumeType : std::string_view(labels.formatLabel);
  labels.tooltip.append(labels.nameWithSize)
      .append("\n")
      .append(facts.bsdName)
      .append("\n")
      .append(translations.translate(typeKey, ""))
      .append("\n")
      .append(translations.translate(names.location, "ZorvikLocal"))
      .append(" ")
      .append(translations.translate(facts.protocol, "ZorvikLocal"));
  return labels;
}

PlistDict singleFormGroup(const VolumeFacts& facts, const VolumeNames& names) {
  PlistDict member{
      {"bsd", PlistValue(facts.bsdName)},
      {"name", PlistValue(names.displayName)},
      {"kind", PlistValue(facts.volumeKind)},
      {"volpath", PlistValue(names.mountPath)},
      {"isMounted", PlistValue(!names.mountPath.empty())},
  };
  return PlistDict{{"containsBoot", PlistValue(names.mountPath == "/")},
                   {"volumes", PlistValue(PlistArray{PlistValue(std::move(member))})}};
}

PlistDict volumeRecord(const VolumeFacts& facts, VolumeNames names, VolumeLabels labels, PlistValue group,
                       std::string role) {
  bool mounted = !names.mountPath.empty();
  bool boot = names.mountPath == "/";
  // The keys go in in their sorted order, each at the end, so no insertion searches the tree.
  PlistDict record;
  auto add = [&record](const char* key, PlistValue value) { record.emplace_hint(record.end(), key, std::move(value)); };
  add("bsdName", facts.bsdName);
  add("connection", facts.protocol);
  add("content", facts.content);
  add("devicePath", std::move(names.devicePath));
  add("isAPFS", isApfsContent(facts.content));
  add("isBoot", boot);
  add("isFVapfs", facts.volumeType.find("Encrypted") != std::string_view::npos);
  add("isHFS", isHfsContent(facts.content));
  add("isJournal", facts.volumeType.find("Journaled") != std::string_view::npos);
  add("isMounted", mounted);
  add("location", names.location);
  add("mediaUUID", facts.mediaUUID);
  add("role", std::move(role));
  add("size", facts.size);
  add("tooltip", std::move(labels.tooltip));
  add("volumeFmt", std::move(labels.formatLabel));
  add("volumeGroup", std::move(group));
  add("volumeKind", facts.volumeKind);
  add("volumeName", std::move(names.displayName));
  add("volumeName_Size", std::move(labels.nameWithSize));
  add("volumePath", std::move(names.mountPath));
  add("volumeType", facts.volumeType);
  // Not mounted: the empty URL, whose text is "" and which yields no path.
  add("volumeURL", PlistUrl{std::string(facts.mountUrl.value_or(""))});
  add("volumeUUID", facts.volumeUUID);
  return record;
}

}  // namespace strandel
