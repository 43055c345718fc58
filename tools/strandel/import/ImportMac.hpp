// `strandel image import DUMP_DIR OUT_DIR`: a machine image from a dump of a real Mac.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include <strandel/PlistValue.hpp>

#include "tools/strandel/import/Dump.hpp"
#include "tools/strandel/import/ToolScripts.hpp"

namespace strandel::importer {

/// A machine image before it is written.
struct MachineImage {
  PlistValue machinePlist;
  std::vector<ImageFile> files;       // under root/
  std::vector<std::string> folders;   // under root/, without the leading "/": mount points and tmp
  std::size_t entries = 0, media = 0, mounts = 0;
};

/// Builds the image of the Mac recorded in `dump`. What can't be used gets a line in `problems`;
/// the image holds everything else.
MachineImage buildImage(const Dump& dump, Problems& problems);

/// Whether an image holds anything to answer from: a media object or a mount.
bool isUsable(const MachineImage& image);

/// Writes `image` into the folder `out`, which must not exist or be empty. The image is built
/// beside it and moved into place whole, so a failure leaves no half-written image. Gives
/// nothing on success, else the one line that says why.
std::optional<std::string> writeImage(const MachineImage& image, const std::filesystem::path& out);

enum class ImportStatus { Written, NothingUsable, BadArguments };

struct ImportReport {
  ImportStatus status = ImportStatus::BadArguments;
  std::vector<std::string> problems;  // one line each, "FILE: what"
  std::string message;                // the summary when written, else why nothing was
};

/// Reads the dump folder `dumpDir` and writes its image into `outDir`.
ImportReport importMac(const std::filesystem::path& dumpDir, const std::filesystem::path& outDir);

}  // namespace strandel::importer
