// The members of an APFS container: the group that every APFS volume record carries.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include <strandel/PlistValue.hpp>

#include "framework/DescriptionValues.hpp"
#include "platform/Machine.hpp"

namespace strandel::framework {

/// The group of the whole disk that `bsdName` belongs to (its container, for an APFS volume):
/// `containsBoot`, whether any object below it is mounted at "/", and `volumes`, one member per
/// object below it that has a disk description, in registry order, less those whose name the
/// exclusion list drops once it is in force. Members hold `bsd`, `name`, `kind`, `volpath` and
/// `isMounted` (the integer 1 or 0). A name that matches no media object gives
/// `containsBoot` false and no volumes.
PlistDict containerGroup(platform::Registry& registry, std::string_view bsdName);

/// A member's dictionary and a group's, their keys shared with every other (made once).
PlistDict memberDict(PlistValue bsd, PlistValue isMounted, PlistValue kind, PlistValue name,
                     PlistValue volpath);
PlistDict groupDict(bool containsBoot, PlistArray volumes);

/// A member of a group, before it becomes a dictionary.
struct GroupMember {
  PlistValue bsd, name, kind;  // the description's texts, shared
  std::string volpath;
  bool hasMountUrl = false;
};

/// What one described object below a container adds to the container's group.
struct GroupEntry {
  bool mountedAtRoot = false;
  std::optional<GroupMember> member;  // nothing when the exclusion list drops the object
};

/// The group entry of an object with a description of these fields; `excluding` tells whether
/// the exclusion list is in force.
GroupEntry groupEntryOf(const DescriptionFields& fields, bool excluding);

/// Gives the group entry of a registry object: a pointer that stays valid until the next call,
/// or null when no disk object can be made from the object.
using GroupEntryOf = std::function<const GroupEntry*(platform::RegistryObject)>;

/// The same group, with the entries taken from `entryOf` instead of the registry's
/// descriptions: a volume list hands over what it has already read in the same call.
PlistDict containerGroup(platform::Registry& registry, std::string_view bsdName,
                         const GroupEntryOf& entryOf);

}  // namespace strandel::framework
