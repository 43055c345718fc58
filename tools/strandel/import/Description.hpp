// The disk arbitration description of one disk, made from what diskutil info says of it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <strandel/PlistValue.hpp>

#include "tools/strandel/import/Dump.hpp"

namespace strandel::importer {

// Every member has an initializer, so designated initializers may leave any of them out.
struct DescribeContext {
  const PlistDict* parent = nullptr;  // the description of the nearest media object above
  std::optional<std::string>
      mediaContent{};  // the registry's Content, which the service reports as it is
  std::optional<bool> whole{},
      leaf{};                 // the object's place in the tree, when the registry knows it
  bool sizeOfParent = false;  // an APFS volume or snapshot: as large as its container
  bool snapshot = false;      // an APFS snapshot: its volume's name and file system
};

/// The description of the disk `bsd` from `info` (diskutil info's keys; README "Importing a
/// real Mac" has the table). Values of the wrong type are left out with a line naming `place`.
PlistDict describeDisk(const std::string& bsd, const PlistDict& info,
                       const DescribeContext& context, std::string_view place, Problems& problems);

/// The partition-type GUID that diskutil shows by name on a GUID partition map ("Apple_HFS"
/// gives "48465300-0000-11AA-AA11-00306543ECAC"); nothing for a name it does not translate.
std::optional<std::string> gptTypeGuid(std::string_view diskutilName);

}  // namespace strandel::importer
