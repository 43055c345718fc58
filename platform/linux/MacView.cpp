#include "platform/linux/MacView.hpp"

#include "apfsdisk/Container.hpp"
#include "machineimage/MachinePlist.hpp"
#include "machineimage/Writer.hpp"

namespace strandel::platform::live {
namespace {

constexpr std::string_view kApfsMediaContent = "EF57347C-0000-11AA-AA11-00306543ECAC";
constexpr std::string_view kApfsVolumeContent = "41504653-0000-11AA-AA11-00306543ECAC";

// A mount point as the disk arbitration service gives it: a file URL, percent-encoded, with a
// trailing slash.
std::string fileUrl(const std::string& path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string url = "file://";
  for (unsigned char c : path) {
    if ((std::isalnum(c) && c < 0x80) ||
        std::string_view("-._~!$&'()*+,;=:@/").find(static_cast<char>(c)) !=
            std::string_view::npos) {
      url += static_cast<char>(c);
    } else {
      url += '%';
      url += kHex[c >> 4];
      url += kHex[c & 0xF];
    }
  }
  if (url.back() != '/') url += '/';
  return url;
}

void putUuid(PlistDict& dict, const char* key, const std::string& text) {
  if (auto uuid = machineimage::canonicalUuid(text)) dict[key] = *uuid;
}

std::string volumeTypeOf(const ProbedFileSystem& fs) {
  if (fs.type == "vfat")
    return "MS-DOS (" + (fs.version.empty() ? std::string("FAT") : fs.version) + ")";
  if (fs.type == "exfat") return "ExFAT";
  if (fs.type == "hfsplus") return "Mac OS Extended";
  if (fs.type == "hfs") return "Mac OS Standard";
  return fs.type;
}

// Names and numbers that stay the same for every object of one disk.
struct DiskFacts {
  const SysfsDisk& disk;
  bool writable;
};

class Builder {
 public:
  Builder(MacView& view, const MountPointOf& mountPointOf, std::uint32_t firstContainerNumber)
      : view_(view), mountPointOf_(mountPointOf), nextContainer_(firstContainerNumber) {}

  PlistDict wholeDisk(const DiskInput& input, std::uint32_t number) {
    const SysfsDisk& disk = input.disk;
    const std::string bsd = "disk" + std::to_string(number);
    DiskFacts facts{disk, !disk.readOnly};
    view_.names.push_back({disk.devNode, disk.devno, bsd});
    const ProbedDisk* probed = input.probed ? &*input.probed : nullptr;
    std::string content;
    if (probed && probed->scheme == "gpt") content = "GUID_partition_scheme";
    else if (probed && probed->scheme == "dos") content = "FDisk_partition_scheme";
    const bool leaf = !probed || (probed->scheme.empty() && !probed->container);

    PlistDict description =
        mediaDescription(facts, bsd, disk.size, content, "IOMedia",
                         disk.model.empty() ? bsd : disk.model + " Media", true, leaf);
    PlistDict properties = mediaProperties(bsd, disk.size, content, true, leaf, disk.devNode);
    PlistArray children;
    if (probed && !probed->scheme.empty()) {
      PlistArray partitions;
      for (const ProbedPartition& p : probed->partitions)
        partitions.emplace_back(partition(facts, input, number, p));
      PlistDict schemeProperties{{"Content Mask", content}};
      putUuid(schemeProperties, "UUID", probed->tableUuid);
      children.emplace_back(machineimage::registryEntry(
          probed->scheme == "gpt" ? "IOGUIDPartitionScheme" : "IOFDiskPartitionScheme",
          std::nullopt, schemeProperties, std::nullopt, std::move(partitions)));
    } else if (probed && probed->container) {
      children.emplace_back(
          containerScheme(facts, *probed->container, bsd, disk.size, disk.devNode));
    } else if (probed && probed->fileSystem && probed->fileSystem->type != "apfs") {
      addVolume(description, *probed->fileSystem, disk.devno);
    }
    return machineimage::registryEntry("IOMedia", std::nullopt, properties, description,
                                       std::move(children));
  }

 private:
  PlistDict partition(const DiskFacts& facts, const DiskInput& input, std::uint32_t number,
                      const ProbedPartition& p) {
    const std::string bsd = "disk" + std::to_string(number) + "s" + std::to_string(p.number);
    PartitionNode node;
    if (auto found = input.partitions.find(p.number); found != input.partitions.end())
      node = found->second;
    if (!node.devNode.empty()) view_.names.push_back({node.devNode, node.devno, bsd});
    const bool leaf = !p.container;
    PlistDict description =
        mediaDescription(facts, bsd, p.size, p.content, "IOMedia", p.name, false, leaf);
    putUuid(description, "DAMediaUUID", p.uuid);
    PlistDict properties = mediaProperties(bsd, p.size, p.content, false, leaf, node.devNode);
    properties["Partition ID"] = static_cast<std::int64_t>(p.number);
    putUuid(properties, "UUID", p.uuid);
    PlistArray children;
    if (p.container) {
      children.emplace_back(containerScheme(facts, *p.container, bsd, p.size, node.devNode));
    } else if (p.fileSystem && p.fileSystem->type != "apfs") {
      // A container that could not be read is no volume: the partition shows as the Mac shows
      // a damaged one, with no volume on it.
      addVolume(description, *p.fileSystem, node.devno);
    }
    return machineimage::registryEntry("IOMedia", std::nullopt, properties, description,
                                       std::move(children));
  }

  // The synthesized disk of a container, as the Mac shows it below the partition that holds it.
  PlistDict containerScheme(const DiskFacts& facts, const apfsdisk::Container& c,
                            const std::string& store, std::uint64_t storeSize,
                            const std::string& devNode) {
    const std::string bsd = "disk" + std::to_string(nextContainer_++);
    const std::uint64_t size = storeSize;
    PlistDict description = mediaDescription(facts, bsd, size, std::string(kApfsMediaContent),
                                             "AppleAPFSMedia", "AppleAPFSMedia", true, false);
    putUuid(description, "DAMediaUUID", c.uuid);
    PlistDict properties =
        mediaProperties(bsd, size, std::string(kApfsMediaContent), true, false, devNode);
    putUuid(properties, "UUID", c.uuid);

    PlistArray volumes;
    PlistArray listed;
    for (const apfsdisk::Volume& v : c.volumes) {
      const std::string volumeBsd = bsd + "s" + std::to_string(v.index + 1);
      PlistDict vd = mediaDescription(facts, volumeBsd, size, std::string(kApfsVolumeContent),
                                      "AppleAPFSVolume", v.name, false, true);
      putUuid(vd, "DAMediaUUID", v.uuid);
      vd["DAVolumeKind"] = "apfs";
      vd["DAVolumeType"] = v.caseSensitive ? "Case-sensitive APFS" : "APFS";
      vd["DAVolumeName"] = v.name;
      vd["DAVolumeNetwork"] = false;
      vd["DAVolumeMountable"] = true;
      putUuid(vd, "DAVolumeUUID", v.uuid);
      PlistDict vp =
          mediaProperties(volumeBsd, size, std::string(kApfsVolumeContent), false, true, devNode);
      putUuid(vp, "UUID", v.uuid);
      PlistArray roles;
      if (std::string role = apfsdisk::roleName(v.role); !role.empty()) roles.emplace_back(role);
      vp["Role"] = roles;
      vp["RoleValue"] = static_cast<std::int64_t>(v.role);
      vp["Status"] = "Online";
      volumes.emplace_back(
          machineimage::registryEntry("AppleAPFSVolume", std::nullopt, vp, vd, {}));

      listed.emplace_back(PlistDict{
          {"APFSVolumeUUID", v.uuid},
          {"CapacityInUse", v.bytesUsed},
          {"CapacityQuota", v.bytesQuota},
          {"CapacityReserve", v.bytesReserved},
          {"CryptoMigrationOn", false},
          {"DeviceIdentifier", volumeBsd},
          {"Encryption", v.encrypted},
          {"FileVault", v.encrypted},
          {"Locked", false},
          {"Name", v.name},
          {"Roles", roles},
      });
    }
    PlistDict containerProperties{{"ContainerBlockSize", static_cast<std::uint64_t>(c.blockSize)},
                                  {"ContainerReference", bsd},
                                  {"Size", c.blockCount * c.blockSize}};
    putUuid(containerProperties, "UUID", c.uuid);
    PlistArray containerChildren{machineimage::registryEntry(
        "AppleAPFSContainer", false, containerProperties, std::nullopt, std::move(volumes))};
    PlistDict media = machineimage::registryEntry("AppleAPFSMedia", std::nullopt, properties,
                                                  description, std::move(containerChildren));

    const std::uint64_t ceiling = c.blockCount * c.blockSize;
    PlistDict entry{
        {"APFSContainerUUID", c.uuid},
        {"CapacityCeiling", ceiling},
        {"ContainerReference", bsd},
        {"DesignatedPhysicalStore", store},
        {"Fusion", false},
        {"PhysicalStores", PlistArray{PlistDict{{"DeviceIdentifier", store}, {"Size", storeSize}}}},
        {"Volumes", std::move(listed)},
    };
    if (c.freeBlocks) {
      entry["CapacityFree"] = *c.freeBlocks * c.blockSize;
      entry["CapacityInUse"] = ceiling - *c.freeBlocks * c.blockSize;
    }
    containers_.emplace_back(std::move(entry));
    view_.apfsListing["Containers"] = containers_;
    return machineimage::registryEntry("AppleAPFSContainerScheme", false,
                                       PlistDict{{"Content Mask", "Apple_APFS"}}, std::nullopt,
                                       PlistArray{PlistValue(std::move(media))});
  }

  PlistDict mediaDescription(const DiskFacts& facts, const std::string& bsd, std::uint64_t size,
                             const std::string& content, const char* kind,
                             const std::string& mediaName, bool whole, bool leaf) {
    const SysfsDisk& disk = facts.disk;
    PlistDict d{
        {"DAMediaBSDName", bsd},
        {"DAMediaSize", size},
        {"DAMediaBlockSize", std::uint64_t{512}},
        {"DAMediaContent", content},
        {"DAMediaKind", kind},
        {"DAMediaName", mediaName},
        {"DAMediaWhole", whole},
        {"DAMediaLeaf", leaf},
        {"DAMediaRemovable", disk.removable},
        {"DAMediaEjectable", disk.removable || !disk.internal},
        {"DAMediaWritable", facts.writable},
        {"DADeviceInternal", disk.internal},
        {"DADeviceProtocol", disk.protocol},
    };
    if (!disk.model.empty()) d["DADeviceModel"] = disk.model;
    return d;
  }

  static PlistDict mediaProperties(const std::string& bsd, std::uint64_t size,
                                   const std::string& content, bool whole, bool leaf,
                                   const std::string& devNode) {
    PlistDict p{
        {"BSD Name", bsd}, {"Size", size}, {"Content", content}, {"Whole", whole}, {"Leaf", leaf}};
    if (!devNode.empty()) p["LinuxDevice"] = devNode;
    return p;
  }

  void addVolume(PlistDict& description, const ProbedFileSystem& fs, dev_t devno) {
    description["DAVolumeKind"] = volumeKindOf(fs.type);
    description["DAVolumeType"] = volumeTypeOf(fs);
    description["DAVolumeName"] = fs.label;
    description["DAVolumeNetwork"] = false;
    description["DAVolumeMountable"] = true;
    putUuid(description, "DAVolumeUUID", fs.uuid);
    if (devno != 0) {
      if (auto mountPoint = mountPointOf_(devno))
        description["DAVolumePath"] = fileUrl(*mountPoint);
    }
  }

  MacView& view_;
  const MountPointOf& mountPointOf_;
  std::uint32_t nextContainer_;
  PlistArray containers_;
};

}  // namespace

std::string volumeKindOf(const std::string& blkidType) {
  if (blkidType == "vfat") return "msdos";
  if (blkidType == "hfsplus" || blkidType == "hfs") return "hfs";
  return blkidType;
}

MacView buildMacView(const std::vector<DiskInput>& disks, const MountPointOf& mountPointOf) {
  MacView view;
  view.apfsListing["Containers"] = PlistArray{};
  Builder builder(view, mountPointOf, static_cast<std::uint32_t>(disks.size()));
  for (std::size_t i = 0; i < disks.size(); ++i)
    view.registry.emplace_back(builder.wholeDisk(disks[i], static_cast<std::uint32_t>(i)));
  return view;
}

}  // namespace strandel::platform::live
