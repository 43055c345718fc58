// Writing machine.plist's parts: what the registry dump of a loaded image and the importer of
// real Macs both write, in one form.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <strandel/PlistValue.hpp>

namespace strandel::machineimage {

/// One registry entry. "IOMedia" is written when `ioMedia` is given, "Properties" and
/// "Children" when not empty, "Description" when there is one.
PlistDict registryEntry(const std::string& className, std::optional<bool> ioMedia,
                        PlistDict properties, std::optional<PlistDict> description,
                        PlistArray children);

/// One mount entry; the names are strings, or data for bytes that are not UTF-8.
PlistDict mountEntry(PlistValue mountedOn, PlistValue mountedFrom, PlistValue type,
                     std::uint32_t blockSize, std::uint64_t blocks, std::uint64_t freeBlocks);

/// The top level of machine.plist.
PlistDict machinePlist(PlistArray registry, PlistArray mounts);

/// Mount entries made one at a time when written, so that a caller with many thousands of them
/// can hold them in a form smaller than their dictionaries.
struct MountEntries {
  std::size_t count = 0;
  std::function<PlistDict(std::size_t index)> at;  // entry `index`, as mountEntry makes it
};

/// Where machine.plist's bytes go: `write` takes them a piece at a time, `restart` drops what
/// was written so far (for a form chosen again). Either gives false on failure.
struct PlistFileSink {
  std::function<bool(std::string_view)> write;
  std::function<bool()> restart;
};

/// Writes machine.plist, `machine` with `mounts` as its mount entries: XML, which people read
/// and diff, unless XML can't hold a value exactly (a control character in a volume name), then
/// binary, which keeps it. The XML form streams, so neither the text nor the mounts'
/// dictionaries are ever held whole. False when the sink failed.
bool writeMachinePlist(const PlistDict& machine, const MountEntries& mounts,
                       const PlistFileSink& sink);

}  // namespace strandel::machineimage
