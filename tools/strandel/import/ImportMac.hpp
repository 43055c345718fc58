// `strandel image import DUMP_DIR OUT_DIR`: a machine image from a dump of a real Mac.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include <strandel/PlistValue.hpp>

#include "tools/strandel/import/Dump.hpp"
#include "tools/strandel/import/KnownFacts.hpp"
#include "tools/strandel/import/MountTable.hpp"
#include "tools/strandel/import/ToolScripts.hpp"

namespace strandel::importer {

/// A machine image before it is written.
struct MachineImage {
  PlistValue machinePlist;  // all but the mount entries, which are held apart in little memory
  std::vector<HeldMount> mountEntries;
  std::vector<ImageFile> files;  // under root/
  std::vector<std::string>
      folders;  // under root/, without the leading "/": tmp and the mount points
  std::size_t entries = 0, media = 0, mounts = 0, volumes = 0;
  std::string version;        // what sw_vers -productVersion answers, "" for nothing
  std::string versionSource;  // where it comes from: a dump file, or the guess's reason
};

/// Builds the image of the Mac recorded in `dump`. What can't be used gets a line in `problems`;
/// the image holds everything else.
MachineImage buildImage(const Dump& dump, Problems& problems);

/// Whether an image holds anything to answer from: a media object or a mount.
bool isUsable(const MachineImage& image);

/// Writes `image` into the folder `out`, which must not exist or be empty, or with `replace`
/// may be a machine image (a folder with machine.plist and root/), which the new one takes the
/// place of. The image is built beside it and moved into place whole, so a failure leaves no
/// half-written image and the old one as it was. Gives nothing on success, else the one line
/// that says why.
std::optional<std::string> writeImage(const MachineImage& image, const std::filesystem::path& out,
                                      bool replace = false);

struct ImportOptions {
  KnownFacts facts;      // given on the command line; each wins over the recording
  bool replace = false;  // --force: an existing machine image in OUT_DIR is replaced
};

enum class ImportStatus { Written, NothingUsable, BadArguments };

struct ImportReport {
  ImportStatus status = ImportStatus::BadArguments;
  std::vector<std::string> problems;  // one line each, "FILE: what"
  std::string message;                // the summary when written, else why nothing was
  std::size_t guesses = 0;            // the guesses the image keeps (ImportGuesses)
  std::size_t afterVolumes = 0;       // where the summary's count of volumes ends in `message`
};

/// Reads the dump folder `dumpDir` (or the one folder in it that holds a recording) and writes
/// its image into `outDir`.
ImportReport importMac(const std::filesystem::path& dumpDir, const std::filesystem::path& outDir,
                       const ImportOptions& options = {});

/// The guesses a machine image keeps (machine.plist's ImportGuesses), "PLACE: what" each; an
/// image made by hand has none. Nothing when `imageDir` holds no readable machine.plist.
std::optional<std::vector<std::string>> importGuessesOf(const std::filesystem::path& imageDir);

}  // namespace strandel::importer
