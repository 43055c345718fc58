#include "tools/strandel/import/DiskFacts.hpp"

#include <algorithm>
#include <set>

#include "plist/DictEntry.hpp"

namespace strandel::importer {
namespace {

class Gatherer {
 public:
  Gatherer(DiskMap& disks, Problems& problems) : disks_(disks), problems_(problems) {}

  // The facts of `bsd`, noting `source` once; nothing for a name that is not a BSD name.
  DiskFacts* disk(const std::string& bsd, std::string_view source) {
    if (!bsdNumbers(bsd)) return nullptr;
    DiskFacts& facts = disks_[bsd];
    if (std::find(facts.sources.begin(), facts.sources.end(), source) == facts.sources.end()) {
      facts.sources.emplace_back(source);
    }
    return &facts;
  }

  // The BSD name under `key` of a listing entry; a line when it is missing.
  const std::string* deviceOf(const PlistValue& entry, const char* key, std::string_view file,
                              std::string_view what) {
    const PlistDict* dict = entry.asDictionary();
    const std::string* bsd = dict ? plist::stringAt(*dict, key) : nullptr;
    if (!bsd || !bsdNumbers(*bsd)) {
      problems_.add(file, std::string(what) + " without a BSD name under " + key + "; left out");
      return nullptr;
    }
    return bsd;
  }

  void infoFiles(const Dump& dump) {
    for (const auto& [bsd, info] : dump.info) {
      // A text form is not replayed, and may have come from diskutil-info.txt or a session.
      DiskFacts* facts = disk(bsd, dump.infoBytes.count(bsd)
                                       ? std::string(dumpfile::kInfoFolder) + "/" + bsd + ".plist"
                                       : "diskutil info of " + bsd + " (text)");
      facts->info = info;
      facts->hasInfoFile = true;
    }
  }

  void mountTable(const std::vector<MountLine>& mounts) {
    std::set<std::string, std::less<>> seen;
    for (const MountLine& mount : mounts) {
      if (!mount.from.starts_with("/dev/")) continue;
      std::string bsd = mount.from.substr(5);
      // A device mounted twice is described by the mount the table lists first.
      if (!seen.insert(bsd).second) continue;
      DiskFacts* facts = disk(bsd, dumpfile::kMount);
      if (!facts) continue;
      fill(facts->info, "MountPoint", mount.on);
      fill(facts->info, "FilesystemType", mount.type);
    }
  }

  void diskList(const PlistDict& list) {
    const PlistArray* wholes = plist::arrayAt(list, "AllDisksAndPartitions");
    if (!wholes) {
      problems_.add(dumpfile::kDiskList,
                    "no AllDisksAndPartitions array; disks come from the other listings only");
      return;
    }
    for (const PlistValue& whole : *wholes) {
      const std::string* bsd = deviceOf(whole, "DeviceIdentifier", dumpfile::kDiskList, "a disk");
      if (!bsd) continue;
      const PlistDict& entry = *whole.asDictionary();
      DiskFacts* facts = disk(*bsd, dumpfile::kDiskList);
      copyScalars(entry, facts->info, {});
      const PlistArray* stores = plist::arrayAt(entry, "APFSPhysicalStores");
      if (stores || plist::arrayAt(entry, "APFSVolumes")) {
        setKind(*facts, DiskKind::ApfsContainer);
        if (stores && !stores->empty()) {
          if (const std::string* store = deviceOf(stores->front(), "DeviceIdentifier",
                                                  dumpfile::kDiskList, "a physical store"))
            setParent(*facts, *store);
        }
      } else {
        setKind(*facts, DiskKind::Whole);
      }
      if (const PlistArray* partitions = plist::arrayAt(entry, "Partitions")) {
        for (const PlistValue& partition : *partitions) {
          const std::string* name =
              deviceOf(partition, "DeviceIdentifier", dumpfile::kDiskList, "a partition");
          if (!name) continue;
          DiskFacts* p = disk(*name, dumpfile::kDiskList);
          copyScalars(*partition.asDictionary(), p->info, {});
          setKind(*p, DiskKind::Partition);
          setParent(*p, *bsd);
        }
      }
      if (const PlistArray* volumes = plist::arrayAt(entry, "APFSVolumes")) {
        for (const PlistValue& volume : *volumes) apfsVolumeOfList(volume, *bsd);
      }
    }
  }

  void apfsList(const PlistDict& listing) {
    const PlistArray* containers = plist::arrayAt(listing, "Containers");
    if (!containers) {
      problems_.add(dumpfile::kApfsList,
                    "no Containers array; no APFS containers are known from it");
      return;
    }
    for (const PlistValue& container : *containers) {
      const std::string* bsd =
          deviceOf(container, "ContainerReference", dumpfile::kApfsList, "a container");
      if (!bsd) continue;
      const PlistDict& entry = *container.asDictionary();
      DiskFacts* facts = disk(*bsd, dumpfile::kApfsList);
      setKind(*facts, DiskKind::ApfsContainer);
      fill(facts->info, "Content", kApfsContainerContent);
      fill(facts->info, "WholeDisk", true);
      const PlistValue* ceiling =
          entry.count("CapacityCeiling") ? &entry.at("CapacityCeiling") : nullptr;
      const PlistValue* free = entry.count("CapacityFree") ? &entry.at("CapacityFree") : nullptr;
      if (ceiling) fill(facts->info, "Size", *ceiling);
      // diskutil info's names for the container's figures, which a mount of a volume shares.
      auto containerFigures = [&](DiskFacts& f) {
        if (ceiling) fill(f.info, "APFSContainerSize", *ceiling);
        if (free) fill(f.info, "APFSContainerFree", *free);
      };
      containerFigures(*facts);
      const std::string* store = plist::stringAt(entry, "DesignatedPhysicalStore");
      if (const PlistArray* stores = plist::arrayAt(entry, "PhysicalStores")) {
        for (const PlistValue& s : *stores) {
          const std::string* name =
              deviceOf(s, "DeviceIdentifier", dumpfile::kApfsList, "a physical store");
          if (!name) continue;
          if (!store) store = name;
          DiskFacts* storeFacts = disk(*name, dumpfile::kApfsList);
          copyScalars(*s.asDictionary(), storeFacts->info, {});
        }
      }
      if (store && bsdNumbers(*store)) setParent(*facts, *store);
      if (const PlistArray* volumes = plist::arrayAt(entry, "Volumes")) {
        for (const PlistValue& volume : *volumes) {
          const std::string* name =
              deviceOf(volume, "DeviceIdentifier", dumpfile::kApfsList, "a volume");
          if (!name) continue;
          const PlistDict& v = *volume.asDictionary();
          DiskFacts* vf = disk(*name, dumpfile::kApfsList);
          setKind(*vf, DiskKind::ApfsVolume);
          setParent(*vf, *bsd);
          if (auto it = v.find("Name"); it != v.end()) fill(vf->info, "VolumeName", it->second);
          if (auto it = v.find("APFSVolumeUUID"); it != v.end()) {
            fill(vf->info, "VolumeUUID", it->second);
            // diskutil info gives an APFS volume its volume UUID as the disk UUID too.
            fill(vf->info, "DiskUUID", it->second);
          }
          fill(vf->info, "Content", kApfsVolumeContent);
          fill(vf->info, "FilesystemType", "apfs");
          containerFigures(*vf);
          if (vf->roles.empty()) vf->roles = texts(plist::arrayAt(v, "Roles"));
          // The text form tells where a volume and its snapshot are mounted; the -plist does not.
          if (auto it = v.find("MountPoint"); it != v.end())
            fill(vf->info, "MountPoint", it->second);
          mountedSnapshots(v, "Name", *name, dumpfile::kApfsList);
        }
      }
    }
  }

  // Roles that only diskutil info gives: any APFS key that names a role, a text or texts.
  void infoRoles() {
    for (auto& [bsd, facts] : disks_) {
      if (!facts.roles.empty()) continue;
      for (const auto& [key, value] : facts.info) {
        const std::string& name = key;
        if (!name.starts_with("APFS") || name.find("Role") == std::string::npos) continue;
        if (const std::string* role = value.asString(); role && !role->empty())
          facts.roles = {*role};
        if (const PlistArray* roles = value.asArray()) facts.roles = texts(roles);
        if (!facts.roles.empty()) break;
      }
    }
  }

 private:
  static std::vector<std::string> texts(const PlistArray* array) {
    std::vector<std::string> out;
    if (!array) return out;
    for (const PlistValue& item : *array) {
      if (const std::string* text = item.asString()) out.push_back(*text);
    }
    return out;
  }

  // Copies the plain values of a listing entry (no arrays or dictionaries) unless set already.
  static void copyScalars(const PlistDict& from, PlistDict& to,
                          std::initializer_list<std::string_view> skip) {
    for (const auto& [key, value] : from) {
      if (value.asArray() || value.asDictionary()) continue;
      bool skipped = false;
      for (std::string_view s : skip) skipped = skipped || key == s;
      if (!skipped) fill(to, key, value);
    }
  }

  void apfsVolumeOfList(const PlistValue& volume, const std::string& container) {
    const std::string* bsd =
        deviceOf(volume, "DeviceIdentifier", dumpfile::kDiskList, "an APFS volume");
    if (!bsd) return;
    const PlistDict& entry = *volume.asDictionary();
    DiskFacts* facts = disk(*bsd, dumpfile::kDiskList);
    // The listing's Size of an APFS volume is the space it takes, not its media size.
    copyScalars(entry, facts->info, {"Size"});
    setKind(*facts, DiskKind::ApfsVolume);
    setParent(*facts, container);
    fill(facts->info, "Content", kApfsVolumeContent);
    fill(facts->info, "FilesystemType", "apfs");
    mountedSnapshots(entry, "VolumeName", *bsd, dumpfile::kDiskList);
  }

  // The snapshots of a volume that are mounted, as diskutil list -plist gives them.
  void mountedSnapshots(const PlistDict& entry, const char* nameKey, const std::string& bsd,
                        std::string_view file) {
    const PlistArray* snapshots = plist::arrayAt(entry, "MountedSnapshots");
    if (!snapshots) return;
    for (const PlistValue& snapshot : *snapshots) {
      const std::string* name = deviceOf(snapshot, "SnapshotBSD", file, "a mounted snapshot");
      if (!name) continue;
      const PlistDict& s = *snapshot.asDictionary();
      DiskFacts* sf = disk(*name, file);
      setKind(*sf, DiskKind::ApfsSnapshot);
      setParent(*sf, bsd);
      if (auto it = s.find("SnapshotMountPoint"); it != s.end())
        fill(sf->info, "MountPoint", it->second);
      if (auto it = s.find("SnapshotUUID"); it != s.end()) {
        fill(sf->info, "VolumeUUID", it->second);
        fill(sf->info, "DiskUUID", it->second);
      }
      // diskutil info names a snapshot's volume after the volume it was taken of.
      if (auto it = entry.find(nameKey); it != entry.end())
        fill(sf->info, "VolumeName", it->second);
      fill(sf->info, "Content", kApfsVolumeContent);
      fill(sf->info, "FilesystemType", "apfs");
    }
  }

  static void setKind(DiskFacts& facts, DiskKind kind) {
    if (!facts.kind) facts.kind = kind;
  }
  static void setParent(DiskFacts& facts, const std::string& parent) {
    if (!facts.parent && bsdNumbers(parent)) facts.parent = parent;
  }

  DiskMap& disks_;
  Problems& problems_;
};

bool looksLikeContainer(const DiskFacts& facts) {
  const std::string* content = plist::stringAt(facts.info, "Content");
  return (content && *content == kApfsContainerContent) ||
         plist::arrayAt(facts.info, "APFSPhysicalStores");
}

class Settler {
 public:
  Settler(DiskMap& disks, Problems& problems) : disks_(disks), problems_(problems) {}

  void settleAll() {
    std::vector<std::string> names;
    for (const auto& [bsd, facts] : disks_) names.push_back(bsd);
    for (const std::string& bsd : names) settle(bsd, 0);
  }

 private:
  // The kind of `bsd`, deciding it first (and its parent's) when no listing did.
  DiskKind settle(const std::string& bsd, int depth) {
    DiskFacts& facts = disks_[bsd];
    if (facts.kind && settled_.count(bsd)) return *facts.kind;
    settled_.insert(bsd);
    std::optional<std::string> nameParent = bsdParent(bsd);
    if (!facts.kind) {
      if (!nameParent || plist::isTrueAt(facts.info, "WholeDisk")) {
        facts.kind = looksLikeContainer(facts) ? DiskKind::ApfsContainer : DiskKind::Whole;
      } else if (plist::isTrueAt(facts.info, "APFSSnapshot")) {
        facts.kind = DiskKind::ApfsSnapshot;
      } else {
        DiskKind above = parentKind(*nameParent, bsd, depth);
        facts.kind = above == DiskKind::ApfsContainer ? DiskKind::ApfsVolume
                     : above == DiskKind::ApfsVolume  ? DiskKind::ApfsSnapshot
                                                      : DiskKind::Partition;
      }
    }
    if (!facts.parent) {
      if (*facts.kind == DiskKind::ApfsContainer) {
        if (const PlistArray* stores = plist::arrayAt(facts.info, "APFSPhysicalStores");
            stores && !stores->empty()) {
          const PlistDict* store = stores->front().asDictionary();
          const std::string* name = store ? plist::stringAt(*store, "APFSPhysicalStore") : nullptr;
          if (name && bsdNumbers(*name)) facts.parent = *name;
        }
      } else if (*facts.kind != DiskKind::Whole && nameParent) {
        facts.parent = nameParent;
      }
    }
    if (facts.parent == bsd) facts.parent.reset();
    if (facts.parent && !disks_.count(*facts.parent)) parentKind(*facts.parent, bsd, depth);
    return *disks_[bsd].kind;
  }

  DiskKind parentKind(const std::string& parent, const std::string& child, int depth) {
    if (!disks_.count(parent)) {
      problems_.add(parent, "no listing tells of it, but " + child +
                                " lies on it; it is made from its name alone");
      disks_[parent];
    }
    // Names nest a few levels at most; a deeper chain can only come from a loop in the listings.
    if (depth > 16) return DiskKind::Whole;
    return settle(parent, depth + 1);
  }

  DiskMap& disks_;
  Problems& problems_;
  std::set<std::string, std::less<>> settled_;
};

}  // namespace

void fill(PlistDict& dict, const std::string& key, PlistValue value) {
  if (!dict.count(key)) dict.emplace(key, std::move(value));
}

DiskMap gatherDisks(const Dump& dump, const std::vector<MountLine>& mounts, Problems& problems) {
  DiskMap disks;
  Gatherer gatherer(disks, problems);
  gatherer.infoFiles(dump);
  gatherer.mountTable(mounts);
  if (dump.diskList) gatherer.diskList(*dump.diskList);
  if (dump.apfsList) gatherer.apfsList(*dump.apfsList);
  gatherer.infoRoles();
  return disks;
}

void settleTree(DiskMap& disks, Problems& problems) { Settler(disks, problems).settleAll(); }

}  // namespace strandel::importer
