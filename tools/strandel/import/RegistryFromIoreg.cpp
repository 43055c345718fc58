// The registry as `ioreg -a -l` recorded it, cut down to what the library can reach.
#include <array>
#include <set>

#include "plist/DictEntry.hpp"
#include "tools/strandel/import/Description.hpp"
#include "tools/strandel/import/Registry.hpp"

namespace strandel::importer {
namespace {

// Keys that ioreg adds to each entry about the entry itself, not properties of it.
constexpr std::array<std::string_view, 8> kIoregOwnKeys{
    "IOObjectClass",       "IORegistryEntryChildren", "IORegistryEntryID",
    "IOObjectRetainCount", "IOServiceBusyState",      "IOServiceBusyTime",
    "IOServiceState",      "IORegistryEntryLocation"};

// Above the storage devices sit the platform and its buses, whose properties name the machine
// and its owner; a property search never needs these, and an image is often shared.
constexpr std::array<std::string_view, 8> kPrivateKeys{
    "IOPlatformSerialNumber", "IOPlatformUUID",         "serial-number",  "Serial Number",
    "USB Serial Number",      "kUSBSerialNumberString", "IOConsoleUsers", "IOMACAddress"};

// Firmware images and device-tree blobs of the entries above the disks can run to megabytes;
// nothing the library asks for is that large.
constexpr std::size_t kLargestAncestorData = 1024;

// The registry classes whose objects are storage media (IOMedia and the subclasses that the
// storage stack is known to use).
constexpr std::array<std::string_view, 5> kMediaClasses{
    "IOMedia", "AppleAPFSMedia", "AppleAPFSVolume", "AppleAPFSSnapshot", "CoreStorageLogical"};

bool isOwnKey(std::string_view key) {
  for (std::string_view own : kIoregOwnKeys) {
    if (key == own) return true;
  }
  return false;
}

bool isPrivateKey(std::string_view key) {
  for (std::string_view p : kPrivateKeys) {
    if (key == p) return true;
  }
  return false;
}

void dropPrivate(PlistDict& properties) {
  for (auto it = properties.begin(); it != properties.end();) {
    const PlistData* data = it->second.asData();
    if (isPrivateKey(it->first) || (data && data->bytes.size() > kLargestAncestorData)) {
      it = properties.erase(it);
      continue;
    }
    if (PlistDict* inner = it->second.asDictionary()) dropPrivate(*inner);
    ++it;
  }
}

// An entry is media when its class is a media class, or when it carries what every IOMedia
// object publishes (a BSD name and the Whole and Leaf flags); ioreg names only the object's
// own class, so subclasses it has never seen are caught by their properties.
bool isMedia(std::string_view className, const PlistDict& properties) {
  for (std::string_view media : kMediaClasses) {
    if (className == media) return true;
  }
  auto flag = [&](std::string_view key) {
    auto it = properties.find(key);
    return it != properties.end() && it->second.asBoolean().has_value();
  };
  return plist::stringAt(properties, "BSD Name") && flag("Whole") && flag("Leaf");
}

class Pruner {
 public:
  Pruner(DiskMap& disks, const RegistryOptions& options, Problems& problems)
      : disks_(disks), options_(options), problems_(problems) {}

  std::vector<RegistryEntry> roots(const PlistValue& ioreg) {
    std::vector<RegistryEntry> out;
    if (ioreg.asDictionary()) {
      if (auto entry = build(ioreg, "ioreg", false, nullptr)) out.push_back(std::move(*entry));
    } else if (const PlistArray* array = ioreg.asArray()) {
      for (std::size_t i = 0; i < array->size(); ++i) {
        // Appended rather than "[" + ...: GCC 12 at -O3 warns falsely (-Wrestrict) on a literal
        // prepended to a temporary string.
        std::string where = std::string("[").append(std::to_string(i)).append("]");
        if (auto entry = build((*array)[i], where, false, nullptr))
          out.push_back(std::move(*entry));
      }
    }
    for (const auto& [bsd, facts] : disks_) {
      if (!seen_.count(bsd)) {
        problems_.add(facts.sources.empty() ? std::string(dumpfile::kIoreg) : facts.sources.front(),
                      bsd + " is not in " + std::string(dumpfile::kIoreg) +
                          " (it came or went between the recordings); it is left out");
      }
    }
    return out;
  }

 private:
  // The entry for one ioreg dictionary, or nothing when neither it nor anything below it
  // is storage. `inside` is true below a media object, where everything is kept.
  std::optional<RegistryEntry> build(const PlistValue& value, const std::string& where, bool inside,
                                     const PlistDict* parentDescription) {
    const PlistDict* dict = value.asDictionary();
    if (!dict) {
      problems_.add(dumpfile::kIoreg, where + ": not a registry entry; left out");
      return std::nullopt;
    }
    RegistryEntry entry;
    if (const std::string* className = plist::stringAt(*dict, "IOObjectClass");
        className && !className->empty()) {
      entry.className = *className;
    } else {
      problems_.add(dumpfile::kIoreg,
                    where + ": no IOObjectClass; the entry is taken as a plain IORegistryEntry");
      entry.className = "IORegistryEntry";
    }
    for (const auto& [key, v] : *dict) {
      if (!isOwnKey(key)) entry.properties.emplace(key, v);
    }
    checkTypes(entry.properties, where);
    entry.media = isMedia(entry.className, entry.properties);
    if (entry.media) describe(entry, parentDescription, where);

    const PlistDict* below = entry.description ? &*entry.description : parentDescription;
    if (auto children = dict->find("IORegistryEntryChildren"); children != dict->end()) {
      const PlistArray* array = children->second.asArray();
      if (!array) {
        problems_.add(dumpfile::kIoreg, where + ".IORegistryEntryChildren: not an array; left out");
      } else {
        for (std::size_t i = 0; i < array->size(); ++i) {
          std::string at = where + ".IORegistryEntryChildren[" + std::to_string(i) + "]";
          if (auto child = build((*array)[i], at, inside || entry.media, below))
            entry.children.push_back(std::move(*child));
        }
      }
    }
    if (!entry.media && !inside) {
      if (entry.children.empty()) return std::nullopt;
      dropPrivate(entry.properties);
    }
    return entry;
  }

  // The library reads "BSD Name" as a text and "Role" as texts; other types would make the
  // whole image unusable, so they are mended or left out here.
  void checkTypes(PlistDict& properties, const std::string& where) {
    if (auto it = properties.find("BSD Name"); it != properties.end() && !it->second.asString()) {
      problems_.add(dumpfile::kIoreg, where + ": BSD Name is not a text; left out");
      properties.erase(it);
    }
    auto role = properties.find("Role");
    if (role == properties.end()) return;
    if (const std::string* text = role->second.asString()) {
      role->second = PlistArray{PlistValue(*text)};
      return;
    }
    const PlistArray* roles = role->second.asArray();
    bool texts = roles != nullptr;
    if (roles) {
      for (const PlistValue& r : *roles) texts = texts && r.asString();
    }
    if (!texts) {
      problems_.add(dumpfile::kIoreg, where + ": Role is not a list of texts; left out");
      properties.erase(role);
    }
  }

  void describe(RegistryEntry& entry, const PlistDict* parentDescription,
                const std::string& where) {
    const std::string* bsd = plist::stringAt(entry.properties, "BSD Name");
    if (!bsd) return;  // the service makes no disk of a media object without a BSD name
    if (!bsdNumbers(*bsd)) {
      problems_.add(dumpfile::kIoreg,
                    where + ": BSD Name \"" + *bsd + "\" is not a disk's; no description");
      return;
    }
    if (!seen_.insert(*bsd).second) {
      problems_.add(dumpfile::kIoreg,
                    where + ": " + *bsd + " appears twice; the second has no description");
      return;
    }
    DiskFacts& facts = disks_[*bsd];
    facts.sources.emplace_back(dumpfile::kIoreg);
    // The registry's own values describe the disk when nothing better does.
    static constexpr std::pair<std::string_view, const char*> kFromRegistry[] = {
        {"Size", "Size"},
        {"Content", "Content"},
        {"Preferred Block Size", "DeviceBlockSize"},
        {"Removable", "Removable"},
        {"Ejectable", "Ejectable"},
        {"IORegistryEntryName", "IORegistryEntryName"},
    };
    for (const auto& [registryKey, infoKey] : kFromRegistry) {
      if (auto it = entry.properties.find(registryKey); it != entry.properties.end())
        fill(facts.info, infoKey, it->second);
    }
    DescribeContext context{
        parentDescription, std::nullopt, std::nullopt,
        std::nullopt,      false,        entry.className == "AppleAPFSSnapshot"};
    if (const std::string* content = plist::stringAt(entry.properties, "Content"))
      context.mediaContent = *content;
    if (auto it = entry.properties.find("Whole"); it != entry.properties.end())
      context.whole = it->second.asBoolean();
    if (auto it = entry.properties.find("Leaf"); it != entry.properties.end())
      context.leaf = it->second.asBoolean();
    std::string place =
        facts.hasInfoFile ? std::string(dumpfile::kInfoFolder) + "/" + *bsd + ".plist" : *bsd;
    entry.description = describeDisk(*bsd, facts.info, context, place, problems_);
    noteMissingInfo(*bsd, facts, options_, problems_);
    if (!facts.roles.empty() && !entry.properties.count("Role")) {
      PlistArray roles;
      for (const std::string& role : facts.roles) roles.emplace_back(role);
      entry.properties["Role"] = std::move(roles);
    }
  }

  DiskMap& disks_;
  const RegistryOptions& options_;
  Problems& problems_;
  std::set<std::string, std::less<>> seen_;
};

}  // namespace

std::vector<RegistryEntry> registryFromIoreg(const PlistValue& ioreg, DiskMap& disks,
                                             const RegistryOptions& options, Problems& problems) {
  return Pruner(disks, options, problems).roots(ioreg);
}

}  // namespace strandel::importer
