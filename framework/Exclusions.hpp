// The exclusion list of volume names: the auxiliary volumes of the system that are never shown.
// It is one of the two pieces of process-wide state: the first volume list of the process puts
// it in force for good, and the container members honour it only from then on.
#pragma once

#include <string_view>

namespace strandel::framework {

/// Puts the exclusion list in force for the rest of the process. Thread-safe; every call after
/// the first changes nothing.
void putExclusionListInForce() noexcept;

/// Whether a volume list has put the exclusion list in force in this process.
bool exclusionListInForce() noexcept;

/// Whether `name` is on the exclusion list: its last path component, in lower case, is one of
/// "boot osx", "boot os x", "efi", "preboot", "recovery", "recovery hd", "vm", "update",
/// "edrive", "flash player", "xart", "hardware", "iscpreboot", "simulator" or "" (so an empty
/// name is excluded). Answers whether the list is in force or not.
bool isExcludedVolumeName(std::string_view name);

}  // namespace strandel::framework
