// The registry rebuilt from diskutil's listings, for a dump without ioreg's.
#include <set>

#include "plist/DictEntry.hpp"
#include "tools/strandel/import/Description.hpp"
#include "tools/strandel/import/Registry.hpp"

namespace strandel::importer {
namespace {

const char* mediaClass(DiskKind kind) {
  switch (kind) {
    case DiskKind::ApfsContainer:
      return "AppleAPFSMedia";
    case DiskKind::ApfsVolume:
      return "AppleAPFSVolume";
    case DiskKind::ApfsSnapshot:
      return "AppleAPFSSnapshot";
    case DiskKind::Whole:
    case DiskKind::Partition:
      break;
  }
  return "IOMedia";
}

// The partition-scheme object the registry puts between a whole disk and its partitions.
std::string schemeClass(const PlistDict& description) {
  const std::string* content = plist::stringAt(description, "DAMediaContent");
  if (content && *content == "GUID_partition_scheme") return "IOGUIDPartitionScheme";
  if (content && *content == "FDisk_partition_scheme") return "IOFDiskPartitionScheme";
  if (content && *content == "Apple_partition_scheme") return "IOApplePartitionScheme";
  return "IOPartitionScheme";
}

class Builder {
 public:
  Builder(const DiskMap& disks, const RegistryOptions& options, Problems& problems)
      : disks_(disks), options_(options), problems_(problems) {
    for (const auto& [bsd, facts] : disks_) {
      if (facts.parent && disks_.count(*facts.parent)) children_[*facts.parent].push_back(bsd);
    }
  }

  std::vector<RegistryEntry> roots() {
    std::vector<RegistryEntry> out;
    for (const auto& [bsd, facts] : disks_) {
      if (facts.parent && disks_.count(*facts.parent)) continue;
      out.push_back(placed(bsd, nullptr));
    }
    // A disk that sits below itself through its parents can't be reached from a root.
    for (const auto& [bsd, facts] : disks_) {
      if (!built_.count(bsd)) {
        problems_.add(bsd, "its listings make it lie below itself; it is left out");
      }
    }
    return out;
  }

 private:
  // The entry of a disk as it hangs below its parent: a container inside its AppleAPFSContainer.
  RegistryEntry placed(const std::string& bsd, const PlistDict* parentDescription) {
    RegistryEntry media = mediaEntry(bsd, parentDescription);
    if (disks_.at(bsd).kind != DiskKind::ApfsContainer) return media;
    RegistryEntry container;
    container.className = "AppleAPFSContainer";
    container.children.push_back(std::move(media));
    return container;
  }

  RegistryEntry mediaEntry(const std::string& bsd, const PlistDict* parentDescription) {
    built_.insert(bsd);
    const DiskFacts& facts = disks_.at(bsd);
    DiskKind kind = facts.kind.value_or(DiskKind::Whole);
    RegistryEntry entry;
    entry.className = mediaClass(kind);
    entry.media = true;

    std::vector<std::string> partitions, others;
    if (auto it = children_.find(bsd); it != children_.end()) {
      for (const std::string& child : it->second) {
        if (built_.count(child)) continue;
        (disks_.at(child).kind == DiskKind::Partition ? partitions : others).push_back(child);
      }
    }
    bool whole = kind == DiskKind::Whole || kind == DiskKind::ApfsContainer;
    DescribeContext context{parentDescription,
                            std::nullopt,
                            whole,
                            partitions.empty() && others.empty(),
                            kind == DiskKind::ApfsVolume || kind == DiskKind::ApfsSnapshot,
                            kind == DiskKind::ApfsSnapshot};
    std::string place =
        facts.hasInfoFile ? std::string(dumpfile::kInfoFolder) + "/" + bsd + ".plist" : bsd;
    PlistDict description = describeDisk(bsd, facts.info, context, place, problems_);
    noteMissingInfo(bsd, facts, options_, problems_);

    entry.properties["BSD Name"] = bsd;
    entry.properties["Whole"] = whole;
    entry.properties["Leaf"] = *context.leaf;
    if (auto size = description.find("DAMediaSize"); size != description.end())
      entry.properties["Size"] = size->second;
    if (auto content = description.find("DAMediaContent"); content != description.end())
      entry.properties["Content"] = content->second;
    if (!facts.roles.empty()) {
      PlistArray roles;
      for (const std::string& role : facts.roles) roles.emplace_back(role);
      entry.properties["Role"] = std::move(roles);
    }
    for (const auto& [key, value] : facts.properties) fill(entry.properties, key, value);
    // Optical drives hang off ATAPI; the property is what the volume list drops them by.
    if (auto protocol = description.find("DADeviceProtocol");
        protocol != description.end() && protocol->second == PlistValue("ATAPI")) {
      entry.properties["ATAPI"] = true;
    }

    if (!partitions.empty()) {
      RegistryEntry scheme;
      scheme.className = schemeClass(description);
      for (const std::string& p : partitions) scheme.children.push_back(placed(p, &description));
      entry.children.push_back(std::move(scheme));
    }
    for (const std::string& o : others) entry.children.push_back(placed(o, &description));
    entry.description = std::move(description);
    return entry;
  }

  const DiskMap& disks_;
  const RegistryOptions& options_;
  Problems& problems_;
  std::map<std::string, std::vector<std::string>, BsdLess> children_;
  std::set<std::string, std::less<>> built_;
};

}  // namespace

std::vector<RegistryEntry> registryFromDisks(const DiskMap& disks, const RegistryOptions& options,
                                             Problems& problems) {
  return Builder(disks, options, problems).roots();
}

}  // namespace strandel::importer
