// The Mac's `mount` and `df -k` outputs as the importer reads them from a dump. The input is
// mount's output, then a NUL byte, then df's (df's is mount's when there is no NUL).
#include <cstdint>

#include "fuzz/FuzzCheck.hpp"
#include "tools/strandel/import/MountTable.hpp"
#include "tools/strandel/import/MountText.hpp"

namespace {

using strandel::fuzz::check;
namespace importer = strandel::importer;

void checkLine(std::string_view line) {
  auto entry = importer::parseMountLine(line);
  if (!entry) return;
  check(!entry->from.empty() && !entry->on.empty() && !entry->type.empty(),
        "a mount line has its three names");
  // The line as mount would print the entry without options reads back as the same entry.
  auto again =
      importer::parseMountLine(entry->from + " on " + entry->on + " (" + entry->type + ")");
  check(again && again->from == entry->from && again->on == entry->on && again->type == entry->type,
        "a mount line reads back from its names");
}

void checkDf(std::string_view df, const importer::MountLine& mount) {
  auto row = importer::findDfRow(df, mount.from, mount.on);
  if (!row) return;
  importer::StatfsFigures figures = importer::figuresFromDf(*row);
  check(figures.blockSize == 512 || figures.blockSize == 1024 || figures.blockSize == 4096,
        "df figures come in 512-, 1024- or 4096-byte blocks");
  check(figures.freeBlocks <= figures.blocks, "no more blocks free than there are");
  if (row->unit == 1) {
    // df -h's rounded sizes go to whole 4096-byte blocks, never more than df said.
    check(figures.blocks * 4096 <= row->blocks, "a rounded size is not made larger");
  } else {
    // The size in df's unit is kept exactly.
    check(figures.blocks * figures.blockSize == row->blocks * row->unit,
          "the file system keeps its size");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input = strandel::fuzz::textOf(data, size);
  std::size_t nul = input.find('\0');
  std::string_view mount = input.substr(0, nul);
  std::string_view df = nul == std::string_view::npos ? input : input.substr(nul + 1);

  for (std::string_view line : importer::textLines(mount)) checkLine(line);
  importer::Problems problems;
  std::vector<importer::MountLine> mounts = importer::readMountLines(mount, problems);
  for (const auto& entry : mounts) checkDf(df, entry);

  importer::Dump dump;
  dump.mount = std::string(mount);
  dump.df = std::string(df);
  importer::mountEntries(mounts, dump, importer::DiskMap{}, problems);
  return 0;
}
