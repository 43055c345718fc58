// A machine image's machine.plist, checked whole and prepared for answering: the registry tree
// flattened in registry order, the mount table, the user name. Checking touches no disk, so
// outside bytes can be fed to it directly.
#pragma once

#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <strandel/PlistValue.hpp>

#include "platform/Machine.hpp"

namespace strandel::machineimage {

inline constexpr std::uint32_t kNoParent = std::numeric_limits<std::uint32_t>::max();

/// One registry entry. Entries are kept in registry order (the pre-order walk), so the
/// descendants of entry i are exactly the entries i+1 up to `end`.
struct RegistryNode {
  std::string className;
  bool isMedia = false;
  bool mediaGiven = false;           // whether the file said "IOMedia" itself
  std::uint32_t parent = kNoParent;  // index of the parent entry
  std::uint32_t end = 0;             // one past the last descendant
  PlistDict properties;
  std::optional<PlistDict> description;  // DAVolumePath already a URL, UUIDs canonical
};

using platform::FsFigures;

struct MountRecord {
  std::string mountedOn;  // raw bytes
  std::string mountedFrom;
  std::string type;
  FsFigures figures;
};

struct MachinePlist {
  std::vector<RegistryNode> nodes;
  std::vector<MountRecord> mounts;
  std::optional<std::string> userName;
};

/// The prepared machine.plist, or the one line saying why it can't be used. The line names
/// the place inside the file ("Registry[0].Class: missing") but not the file itself.
struct MachinePlistResult {
  std::shared_ptr<const MachinePlist> plist;  // null on failure
  std::string error;
};

/// Parses and checks the bytes of a machine.plist (XML or binary). Never crashes on any bytes.
MachinePlistResult parseMachinePlist(std::string_view bytes);

/// The same for a file's bytes that the caller no longer needs: they are freed once read, so
/// that the text and the machine taken apart from its values are never held at once.
MachinePlistResult parseMachinePlistFile(std::string bytes);

/// Checks a machine.plist value that has been read already; takes it apart to avoid copies.
MachinePlistResult checkMachinePlist(PlistValue value);

/// The canonical text of a UUID written in any letter case (upper case, 8-4-4-4-12); nothing
/// when `text` is not a UUID.
std::optional<std::string> canonicalUuid(std::string_view text);

/// Why `text` is not a file URL as the disk arbitration service gives one
/// ("file:///Volumes/Backup%20Disk/"); nothing when it is one.
std::optional<std::string> fileUrlProblem(std::string_view text);

}  // namespace strandel::machineimage
