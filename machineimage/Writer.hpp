// Writing machine.plist's parts: what the registry dump of a loaded image and the importer of
// real Macs both write, in one form.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <strandel/PlistValue.hpp>

namespace strandel::machineimage {

/// One registry entry. "IOMedia" is written when `ioMedia` is given, "Properties" and
/// "Children" when not empty, "Description" when there is one.
PlistDict registryEntry(const std::string& className, std::optional<bool> ioMedia,
                        const PlistDict& properties, const std::optional<PlistDict>& description,
                        PlistArray children);

/// One mount entry; the names are strings, or data for bytes that are not UTF-8.
PlistDict mountEntry(PlistValue mountedOn, PlistValue mountedFrom, PlistValue type,
                     std::uint32_t blockSize, std::uint64_t blocks, std::uint64_t freeBlocks);

/// The top level of machine.plist.
PlistDict machinePlist(PlistArray registry, PlistArray mounts);

/// machine.plist's bytes: XML, which people read and diff, unless XML can't hold a value
/// exactly (a control character in a volume name), then binary, which keeps it. Decided while
/// writing, so the image is never read back whole to compare.
std::string machinePlistFile(const PlistValue& machine);

}  // namespace strandel::machineimage
