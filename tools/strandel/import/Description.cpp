#include "tools/strandel/import/Description.hpp"

#include <array>
#include <cctype>
#include <utility>

#include "machineimage/MachinePlist.hpp"
#include "tools/strandel/import/FileUrl.hpp"

namespace strandel::importer {
namespace {

// diskutil's names of the partition types it knows; the registry, and so the service, keeps
// the GUID itself as a partition's content.
constexpr std::array<std::pair<std::string_view, std::string_view>, 10> kGptTypes{{
    {"EFI", "C12A7328-F81F-11D2-BA4B-00A0C93EC93B"},
    {"Apple_HFS", "48465300-0000-11AA-AA11-00306543ECAC"},
    {"Apple_APFS", "7C3457EF-0000-11AA-AA11-00306543ECAC"},
    {"Apple_Boot", "426F6F74-0000-11AA-AA11-00306543ECAC"},
    {"Apple_CoreStorage", "53746F72-6167-11AA-AA11-00306543ECAC"},
    {"Apple_RAID", "52414944-0000-11AA-AA11-00306543ECAC"},
    {"Apple_RAID_Offline", "52414944-5F4F-11AA-AA11-00306543ECAC"},
    {"Apple_Label", "4C616265-6C00-11AA-AA11-00306543ECAC"},
    {"Microsoft Basic Data", "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7"},
    {"Microsoft Reserved", "E3C9E316-0B5C-4DB8-817D-F92DF00215AE"},
}};

class Describer {
 public:
  Describer(const PlistDict& info, std::string_view place, Problems& problems)
      : info_(info), place_(place), problems_(problems) {}

  const PlistValue* value(std::string_view key) const {
    auto it = info_.find(key);
    return it == info_.end() ? nullptr : &it->second;
  }

  // A text value; an empty text counts as absent, as the service leaves such keys out.
  std::optional<std::string> text(std::string_view key) {
    const PlistValue* v = value(key);
    if (!v) return std::nullopt;
    if (const std::string* s = v->asString()) return s->empty() ? std::nullopt : std::optional(*s);
    wrong(key, "a string");
    return std::nullopt;
  }

  std::optional<bool> flag(std::string_view key) {
    const PlistValue* v = value(key);
    if (!v) return std::nullopt;
    if (auto b = v->asBoolean()) return b;
    wrong(key, "a boolean");
    return std::nullopt;
  }

  std::optional<PlistValue> integer(std::string_view key) {
    const PlistValue* v = value(key);
    if (!v) return std::nullopt;
    if (v->asInteger() && *v->asInteger() >= 0) return *v;
    if (v->asUnsignedInteger()) return *v;
    wrong(key, "a count of bytes");
    return std::nullopt;
  }

  std::optional<std::string> uuid(std::string_view key) {
    auto t = text(key);
    if (!t) return std::nullopt;
    if (auto canonical = machineimage::canonicalUuid(*t)) return canonical;
    problems_.add(place_, std::string(key) + ": \"" + *t + "\" is not a UUID; left out");
    return std::nullopt;
  }

  void wrong(std::string_view key, std::string_view expected) {
    problems_.add(place_, std::string(key) + ": expected " + std::string(expected) + "; left out");
  }

 private:
  const PlistDict& info_;
  std::string_view place_;
  Problems& problems_;
};

void put(PlistDict& d, const char* key, std::optional<std::string> v) {
  if (v) d[key] = std::move(*v);
}
void put(PlistDict& d, const char* key, std::optional<bool> v) {
  if (v) d[key] = *v;
}
void put(PlistDict& d, const char* key, std::optional<PlistValue> v) {
  if (v) d[key] = std::move(*v);
}

template <typename T>
std::optional<T> either(std::optional<T> first, std::optional<T> second) {
  return first ? first : second;
}

}  // namespace

std::optional<std::string> gptTypeGuid(std::string_view diskutilName) {
  for (const auto& [name, guid] : kGptTypes) {
    if (name == diskutilName) return std::string(guid);
  }
  return std::nullopt;
}

PlistDict describeDisk(const std::string& bsd, const PlistDict& info,
                       const DescribeContext& context, std::string_view place, Problems& problems) {
  Describer in(info, place, problems);
  PlistDict d;
  d["DAMediaBSDName"] = bsd;
  put(d, "DAVolumeName", in.text("VolumeName"));
  put(d, "DAVolumeKind", in.text("FilesystemType"));
  put(d, "DAVolumeType", either(in.text("FilesystemUserVisibleName"), in.text("FilesystemName")));

  std::optional<std::string> content = context.mediaContent;
  if (!content) {
    content = in.text("Content");
    const std::string* parentContent = nullptr;
    if (context.parent) {
      if (auto it = context.parent->find("DAMediaContent"); it != context.parent->end())
        parentContent = it->second.asString();
    }
    if (content && parentContent && *parentContent == "GUID_partition_scheme") {
      if (auto guid = gptTypeGuid(*content)) content = guid;
    }
  }
  put(d, "DAMediaContent", content);

  if (auto protocol = in.text("BusProtocol")) {
    // diskutil names the interface of an attached image "Disk Image"; the service calls it
    // "Virtual Interface", which is what the network-backup test looks for.
    d["DADeviceProtocol"] =
        *protocol == "Disk Image" ? std::string("Virtual Interface") : *protocol;
  }
  put(d, "DADeviceInternal", in.flag("Internal"));
  put(d, "DADeviceModel", in.text("MediaName"));
  // Device keys belong to the whole device; diskutil repeats them for each of its disks, and
  // a disk without its own info file takes them from the disk it lies on.
  if (context.parent) {
    for (const char* key : {"DADeviceProtocol", "DADeviceInternal", "DADeviceModel"}) {
      if (!d.count(key) && context.parent->count(key)) d[key] = context.parent->at(key);
    }
  }

  put(d, "DAMediaSize",
      either(either(in.integer("Size"), in.integer("TotalSize")), in.integer("IOKitSize")));
  if (!d.count("DAMediaSize") && context.sizeOfParent && context.parent &&
      context.parent->count("DAMediaSize")) {
    d["DAMediaSize"] = context.parent->at("DAMediaSize");
  }
  // diskutil info gives a snapshot the name and file system of the volume it was taken of.
  if (context.snapshot && context.parent) {
    for (const char* key : {"DAVolumeName", "DAVolumeKind", "DAVolumeType"}) {
      if (!d.count(key) && context.parent->count(key)) d[key] = context.parent->at(key);
    }
  }
  put(d, "DAMediaBlockSize", in.integer("DeviceBlockSize"));
  put(d, "DAMediaType", in.text("MediaType"));
  put(d, "DAMediaName", in.text("IORegistryEntryName"));
  put(d, "DAVolumeUUID", in.uuid("VolumeUUID"));
  put(d, "DAMediaUUID", in.uuid("DiskUUID"));
  put(d, "DAMediaWhole", either(context.whole, in.flag("WholeDisk")));
  put(d, "DAMediaLeaf", context.leaf);
  put(d, "DAMediaRemovable", either(in.flag("RemovableMedia"), in.flag("Removable")));
  put(d, "DAMediaEjectable", in.flag("Ejectable"));

  if (auto mountPoint = in.text("MountPoint")) {
    if (auto url = mountPointUrl(*mountPoint)) {
      d["DAVolumePath"] = *url;
    } else {
      problems.add(place, "MountPoint: \"" + *mountPoint +
                              "\" is not an absolute path; the disk is taken as not mounted");
    }
  }
  return d;
}

}  // namespace strandel::importer
