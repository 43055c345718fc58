#include "tools/strandel/import/Registry.hpp"

#include "machineimage/Writer.hpp"

namespace strandel::importer {
namespace {

void count(const RegistryEntry& entry, RegistryCounts& counts) {
  ++counts.entries;
  if (entry.media) ++counts.media;
  // A volume is what has a file system; a snapshot is its volume's, not one of its own.
  if (entry.description && entry.description->count("DAVolumeKind") &&
      entry.className != "AppleAPFSSnapshot")
    ++counts.volumes;
  for (const auto& child : entry.children) count(child, counts);
}

}  // namespace

PlistArray registryValue(std::vector<RegistryEntry>&& roots) {
  PlistArray out;
  out.reserve(roots.size());
  for (RegistryEntry& entry : roots) {
    // "IOMedia" only where it differs from what the image assumes.
    std::optional<bool> media = entry.media != entry.description.has_value()
                                    ? std::optional<bool>(entry.media)
                                    : std::nullopt;
    PlistArray children = registryValue(std::move(entry.children));
    out.push_back(machineimage::registryEntry(entry.className, media, std::move(entry.properties),
                                              std::move(entry.description), std::move(children)));
    // Freed entry by entry, so that the registry's two forms never both hold it whole.
    entry = RegistryEntry{};
  }
  roots.clear();
  roots.shrink_to_fit();
  return out;
}

RegistryCounts countEntries(const std::vector<RegistryEntry>& roots) {
  RegistryCounts counts;
  for (const auto& root : roots) count(root, counts);
  return counts;
}

void noteMissingInfo(const std::string& bsd, const DiskFacts& facts, const RegistryOptions& options,
                     Problems& problems) {
  if (facts.hasInfoFile || !options.noteMissingInfo) return;
  std::string file = std::string(dumpfile::kInfoFolder) + "/" + bsd + ".plist";
  std::string what = "missing";
  if (options.failures) {
    if (auto reason = options.failures->find(file); reason != options.failures->end())
      what += " (the recorder: " + reason->second + ")";
  }
  std::string from;
  for (const std::string& source : facts.sources) from += (from.empty() ? "" : ", ") + source;
  problems.add(
      file, what + "; " + bsd + " is described from " + (from.empty() ? "its name alone" : from));
}

}  // namespace strandel::importer
