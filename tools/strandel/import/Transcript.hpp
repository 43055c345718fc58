// A terminal session pasted into one file: the commands record-mac runs, each after its
// prompt, with their outputs between. Split into the files of a dump folder.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace strandel::importer {

/// One command of a session and the dump file its output goes to.
struct TranscriptPart {
  std::string file;     // "mount.txt", "info/disk3s1.plist", "diskutil-info.txt" (info in text)
  std::string command;  // as typed: "diskutil apfs list"
  std::size_t firstLine = 0, lastLine = 0;  // the output's lines, counted from 1
  std::string text;                         // the output, line ends kept
};

/// The parts of `session`: each line that holds a command a recording is made of (diskutil
/// list, apfs list or info, mount, df, sw_vers, ioreg, tmutil destinationinfo or status),
/// alone or after a prompt ("user@Mac ~ % ", "$ ", "# "), starts a part that runs to the next
/// line holding a command; a command of no recording ends a part and its output is dropped.
/// Outputs for the same file are joined. Empty when no line holds such a command.
std::vector<TranscriptPart> splitTranscript(std::string_view session);

}  // namespace strandel::importer
