// The Mac's `mount` and `df -k` outputs, read back into mount-table entries and statfs figures.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace strandel::importer {

/// One line of `mount`: "FROM on POINT (TYPE, OPTION, ...)".
struct MountLine {
  std::string from;  // f_mntfromname: "/dev/disk1s5", "map auto_home", "//user@host/share"
  std::string on;    // f_mntonname: "/", "/Volumes/My Disk"
  std::string type;  // f_fstypename: "apfs", "hfs", "autofs"
  std::vector<std::string> options;  // what follows the type: "sealed", "local", "journaled", ...
};

/// Reads one line of `mount`. The source ends at the first " on " and the mount point at the
/// last " (", so blanks and parentheses inside the mount point survive. Nothing for a line
/// that does not have that shape (blank lines, a prompt, a cut line).
std::optional<MountLine> parseMountLine(std::string_view line);

/// The three figures of one `df -k` row, in 1024-byte blocks.
struct DfRow {
  std::uint64_t blocks = 0;     // "1024-blocks"
  std::uint64_t used = 0;       // "Used": f_blocks - f_bfree, as df computes it
  std::uint64_t available = 0;  // "Available": f_bavail, which leaves out the superuser's reserve
  std::uint32_t unit = 1024;    // bytes per count: 1024 (df -k), 512 (df alone), 1 (df -h, rounded)
};

/// Finds the row of the mount (`from`, `on`) in the output of `df -k` (or of `df` in 512-byte
/// blocks, or `df -h` with rounded sizes, as the header says): the line that starts with
/// `from` and ends with `on`, each set off by blanks, with the numbers between them. Matching on
/// both names keeps sources and mount points that hold blanks apart. Nothing when df printed no
/// such row.
std::optional<DfRow> findDfRow(std::string_view dfText, std::string_view from, std::string_view on);

/// statfs figures as a machine image holds them.
struct StatfsFigures {
  std::uint32_t blockSize = 0;
  std::uint64_t blocks = 0;
  std::uint64_t freeBlocks = 0;  // the superuser's reserve included
};

/// The statfs figures behind a df row. df printed f_blocks and f_blocks - f_bfree scaled to
/// 1024-byte blocks, so f_bfree comes back exactly. The block size is 4096 (what APFS and HFS+
/// report) when both counts fill whole 4096-byte blocks, else 1024, so that no byte is lost.
/// df's Available is not used: an image has no f_bavail.
StatfsFigures figuresFromDf(const DfRow& row);

/// The lines of a text, each without its line end ("\n" or "\r\n"); a last line without a line
/// end counts too.
std::vector<std::string_view> textLines(std::string_view text);

/// The value of the first line "Label: value" of a tool's text (sw_vers) whose label is
/// `label`, blanks around it dropped; nothing when no line has that label.
std::optional<std::string_view> labelledValue(std::string_view text, std::string_view label);

}  // namespace strandel::importer
