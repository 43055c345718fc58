#include "tools/strandel/import/OsVersionGuess.hpp"

#include <algorithm>

#include "plist/DictEntry.hpp"

namespace strandel::importer {
namespace {

// Keeps the strongest evidence: the versions below are listed in rising order.
class Evidence {
 public:
  void saw(int rank, std::string why) {
    if (rank > rank_) {
      rank_ = rank;
      why_ = std::move(why);
    }
  }
  std::optional<VersionGuess> guess() const {
    static constexpr const char* kVersions[] = {"10.7", "10.12", "10.13", "10.15", "11.0"};
    if (rank_ < 0) return std::nullopt;
    return VersionGuess{kVersions[rank_], why_};
  }

 private:
  int rank_ = -1;
  std::string why_;
};

constexpr int kLion = 0, kSierra = 1, kHighSierra = 2, kCatalina = 3, kBigSur = 4;

}  // namespace

std::optional<VersionGuess> leastVersion(const Dump& dump, const DiskMap& disks,
                                         const std::vector<MountLine>& mounts) {
  Evidence evidence;
  for (const MountLine& mount : mounts) {
    if (mount.on == "/" &&
        std::find(mount.options.begin(), mount.options.end(), "sealed") != mount.options.end())
      evidence.saw(kBigSur, "a sealed snapshot mounted at /");
  }
  if (dump.apfsList) {
    auto containers = dump.apfsList->find("Containers");
    const PlistArray* list =
        containers == dump.apfsList->end() ? nullptr : containers->second.asArray();
    if (list && !list->empty()) evidence.saw(kSierra, "an APFS listing");
    for (const PlistValue& container : list ? *list : PlistArray{}) {
      const PlistDict* entry = container.asDictionary();
      if (entry && plist::stringAt(*entry, "DesignatedPhysicalStore")) {
        evidence.saw(kHighSierra, "DesignatedPhysicalStore in the APFS listing");
      }
    }
  }
  for (const auto& [bsd, facts] : disks) {
    const std::string* content = plist::stringAt(facts.info, "Content");
    const std::string* name = plist::stringAt(facts.info, "VolumeName");
    if (content && *content == "Apple_CoreStorage") evidence.saw(kLion, "a CoreStorage partition");
    if (content && *content == "Apple_Boot" && name && *name == "Recovery HD")
      evidence.saw(kLion, "a Recovery HD partition");
    const std::string* fileSystem = plist::stringAt(facts.info, "FilesystemType");
    if (fileSystem && *fileSystem == "apfs") evidence.saw(kSierra, "an APFS volume");
    const std::string* point = plist::stringAt(facts.info, "MountPoint");
    if (point && *point == "/System/Volumes/Data")
      evidence.saw(kCatalina, "a volume at /System/Volumes/Data");
    if (!facts.roles.empty() && facts.roles.front() == "Data")
      evidence.saw(kCatalina, "an APFS volume with the Data role");
    auto numbers = bsdNumbers(bsd);
    if (point && *point == "/" && numbers && numbers->size() >= 3)
      evidence.saw(kBigSur, "a snapshot mounted at /");
    if (!facts.roles.empty() &&
        (facts.roles.front() == "xART" || facts.roles.front() == "Hardware"))
      evidence.saw(kBigSur, "an Apple silicon system container");
  }
  return evidence.guess();
}

std::string swVersText(const std::string& version) {
  bool macOS = !version.starts_with("10.");
  return std::string("ProductName:\t") + (macOS ? "macOS" : "Mac OS X") + "\nProductVersion:\t" +
         version + "\n";
}

}  // namespace strandel::importer
