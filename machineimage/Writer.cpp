#include "machineimage/Writer.hpp"

#include "machineimage/Keys.hpp"
#include "plist/PlistWriter.hpp"
#include "plist/XmlStream.hpp"

namespace strandel::machineimage {

PlistDict registryEntry(const std::string& className, std::optional<bool> ioMedia,
                        PlistDict properties, std::optional<PlistDict> description,
                        PlistArray children) {
  PlistDict entry;
  entry[key::kClass] = className;
  if (ioMedia) entry[key::kIOMedia] = *ioMedia;
  if (!properties.empty()) entry[key::kProperties] = std::move(properties);
  if (description) entry[key::kDescription] = std::move(*description);
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

namespace {

enum class Streamed { Written, Refused, SinkFailed };

// The XML form, the mounts made into dictionaries one at a time at their key's place among the
// machine's sorted keys.
Streamed writeXmlStreamed(const PlistDict& machine, const MountEntries& mounts,
                          const plist::ByteSink& sink) {
  plist::XmlStream xml(plist::WriteMode::Exact, sink);
  bool mountsWritten = false;
  auto writeMounts = [&] {
    mountsWritten = true;
    if (!xml.key(key::kMounts) || !xml.openArray()) return false;
    for (std::size_t i = 0; i < mounts.count; ++i) {
      if (!xml.value(mounts.at(i))) return false;
    }
    return xml.close();
  };
  bool ok = xml.openDictionary();
  for (auto entry = machine.begin(); ok && entry != machine.end(); ++entry) {
    if (entry->first == key::kMounts) continue;
    if (!mountsWritten && entry->first > std::string_view(key::kMounts)) ok = writeMounts();
    ok = ok && xml.key(entry->first) && xml.value(entry->second);
  }
  ok = ok && (mountsWritten || writeMounts()) && xml.finish();
  if (ok) return Streamed::Written;
  return xml.refused() ? Streamed::Refused : Streamed::SinkFailed;
}

}  // namespace

bool writeMachinePlist(const PlistDict& machine, const MountEntries& mounts,
                       const PlistFileSink& sink) {
  switch (writeXmlStreamed(machine, mounts, sink.write)) {
    case Streamed::Written:
      return true;
    case Streamed::SinkFailed:
      return false;
    case Streamed::Refused:
      break;
  }
  // Rare (a name XML can't hold), so the whole value is built for the binary form, which needs
  // it to share repeated texts.
  if (!sink.restart()) return false;
  PlistDict whole = machine;
  PlistArray entries;
  entries.reserve(mounts.count);
  for (std::size_t i = 0; i < mounts.count; ++i) entries.emplace_back(mounts.at(i));
  whole.insert_or_assign(key::kMounts, std::move(entries));
  const PlistValue value(std::move(whole));
  // Binary holds every value an import makes; a lenient form is the last resort, never reached.
  auto binary = plist::writeBinary(value, plist::WriteMode::Exact);
  return sink.write(binary ? *binary : writeBinaryPlist(value));
}

}  // namespace strandel::machineimage
