#include "machineimage/Writer.hpp"

#include "machineimage/Keys.hpp"
#include "plist/PlistWriter.hpp"

namespace strandel::machineimage {

PlistDict registryEntry(const std::string& className, std::optional<bool> ioMedia,
                        const PlistDict& properties, const std::optional<PlistDict>& description,
                        PlistArray children) {
  PlistDict entry;
  entry[key::kClass] = className;
  if (ioMedia) entry[key::kIOMedia] = *ioMedia;
  if (!properties.empty()) entry[key::kProperties] = properties;
  if (description) entry[key::kDescription] = *description;
  if (!children.empty()) entry[key::kChildren] = std::move(children);
  return entry;
}

PlistDict mountEntry(PlistValue mountedOn, PlistValue mountedFrom, PlistValue type,
                     std::uint32_t blockSize, std::uint64_t blocks, std::uint64_t freeBlocks) {
  PlistDict entry;
  entry[key::kMountedOn] = std::move(mountedOn);
  entry[key::kMountedFrom] = std::move(mountedFrom);
  entry[key::kFsType] = std::move(type);
  entry[key::kBlockSize] = static_cast<std::int64_t>(blockSize);
  entry[key::kBlocks] = blocks;
  entry[key::kFreeBlocks] = freeBlocks;
  return entry;
}

PlistDict machinePlist(PlistArray registry, PlistArray mounts) {
  PlistDict top;
  top[key::kRegistry] = std::move(registry);
  top[key::kMounts] = std::move(mounts);
  return top;
}

std::string machinePlistFile(const PlistValue& machine) {
  if (auto xml = plist::writeXml(machine, plist::WriteMode::Exact)) return std::move(*xml);
  // Binary holds every value an import makes; a lenient form is the last resort, never reached.
  if (auto binary = plist::writeBinary(machine, plist::WriteMode::Exact)) return std::move(*binary);
  return writeBinaryPlist(machine);
}

}  // namespace strandel::machineimage
