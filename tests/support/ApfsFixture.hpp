// APFS containers made for tests: mkapfs makes the container and its first volume, and a small
// patcher adds volumes and sets roles. An added volume is a copy of the first one's superblock
// (its own object id, UUID, name and role, the same file-system trees), mapped in the
// container's object map: every reader of volume superblocks sees it, while apfsck, which also
// counts the blocks each tree owns, does not accept the shared trees.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace strandel::testing {

struct FixtureVolume {
  std::string name;
  std::string uuid;        // 8-4-4-4-12
  std::uint16_t role = 0;  // the volume superblock's role bits
};

/// Whether the host can make containers (mkapfs is installed).
bool haveMkapfs();

/// Makes the file or device at `path` (at least 128 MiB) an APFS container holding `volumes`
/// in order; "" on success, else what failed.
std::string makeApfsFixture(const std::string& path, const std::vector<FixtureVolume>& volumes);

/// Runs a command line through the shell; its standard output, or nothing usable when it could
/// not be run (the status then is -1).
struct CommandResult {
  int status = -1;
  std::string out;
};
CommandResult runCommand(const std::string& commandLine);

}  // namespace strandel::testing
