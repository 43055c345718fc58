// The tools of an imported Mac: scripts under root/ that replay what the Mac's own tools
// printed when it was recorded, and the files they replay.
#pragma once

#include <string>
#include <vector>

#include "tools/strandel/import/Dump.hpp"
#include "tools/strandel/import/OsVersionGuess.hpp"

namespace strandel::importer {

/// A file under the image's root/: its Mac path without the leading "/", its bytes, its mode.
struct ImageFile {
  std::string path;
  std::string bytes;
  unsigned mode = 0644;
};

/// The scripts /usr/sbin/diskutil, /usr/bin/sw_vers and /usr/bin/tmutil with their recordings
/// beside them (diskutil.d/, sw_vers.d/, tmutil.d/), and the Time Machine preferences. The
/// scripts are POSIX sh, need no environment (programs by absolute path, recordings found
/// from "$0"), and answer a command they have no recording of with a line on stderr and exit 1.
/// When neither sw_vers recording gives the version, sw_vers answers `guessedVersion` (with a
/// line saying so), or nothing.
std::vector<ImageFile> toolFiles(const Dump& dump,
                                 const std::optional<VersionGuess>& guessedVersion,
                                 Problems& problems);

/// The version that `sw_vers` printed on its ProductVersion line, with a line feed; nothing
/// when there is no such line.
std::optional<std::string> productVersionOf(std::string_view swVersOutput);

}  // namespace strandel::importer
