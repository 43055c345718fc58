#include "tools/strandel/import/ImportMac.hpp"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <set>
#include <string_view>
#include <system_error>

#include "base/FileBytes.hpp"
#include "base/Handles.hpp"
#include "machineimage/Writer.hpp"
#include "tools/strandel/import/DiskFacts.hpp"
#include "tools/strandel/import/DiskGuesses.hpp"
#include "tools/strandel/import/MountTable.hpp"
#include "tools/strandel/import/PastedText.hpp"
#include "tools/strandel/import/Registry.hpp"
#include "tools/strandel/import/Transcript.hpp"

namespace strandel::importer {
namespace {

namespace fs = std::filesystem;

// The folder of a mount point under root/, or nothing for one that could leave root/ or is
// not a plain absolute path.
std::optional<std::string> mountFolder(const std::string& mountPoint) {
  if (!mountPoint.starts_with('/')) return std::nullopt;
  std::string folder;
  std::size_t start = 1;
  while (start <= mountPoint.size()) {
    std::size_t end = mountPoint.find('/', start);
    if (end == std::string::npos) end = mountPoint.size();
    std::string_view part(mountPoint.data() + start, end - start);
    if (part == "." || part == "..") return std::nullopt;
    if (!part.empty()) {
      if (!folder.empty()) folder += '/';
      folder += part;
    }
    start = end + 1;
  }
  return folder;
}

// A Mac mounts a few dozen file systems, and an image's statfs answers only where root/ holds
// the path, so each mount point gets a folder; but a folder costs the image a directory block,
// and a recording with thousands of mount points is not one to trust that far. Past this many
// the mount points are kept in the table without a folder, with one line.
constexpr std::size_t kMostMountFolders = 256;

// root/'s folders: tmp, where the Full Disk Access probe writes, and the mount points'.
std::set<std::string> imageFolders(const std::vector<HeldMount>& mounts, Problems& problems) {
  std::set<std::string> folders{"tmp"};
  std::size_t withoutFolder = 0;
  for (const HeldMount& mount : mounts) {
    // A mount point that is not UTF-8 is held as data: its bytes are the path.
    const PlistData* bytes = mount.mountedOn.asData();
    const std::string* text = mount.mountedOn.asString();
    const std::string on = text    ? *text
                           : bytes ? std::string(bytes->bytes.begin(), bytes->bytes.end())
                                   : std::string();
    auto folder = mountFolder(on);
    if (!folder) {
      problems.add(dumpfile::kMount, on + ": not a plain absolute path; no folder is made for it");
    } else if (!folder->empty() && !folders.contains(*folder)) {
      if (folders.size() <= kMostMountFolders) {
        folders.insert(std::move(*folder));
      } else {
        ++withoutFolder;
      }
    }
  }
  if (withoutFolder > 0) {
    problems.add(dumpfile::kMount, std::to_string(withoutFolder) + " mount points past the first " +
                                       std::to_string(kMostMountFolders) +
                                       " get no folder; their sizes are not answered");
  }
  return folders;
}

// Written with the system calls themselves, so that a failure keeps its own errno: a full
// disk says "No space left on device", not a stream's "Input/output error". `fill` writes the
// bytes through the writer it is given, and may start over.
bool writeFileWith(const fs::path& path, unsigned mode, std::error_code& error,
                   const std::function<bool(const machineimage::PlistFileSink&)>& fill) {
  fs::create_directories(path.parent_path(), error);
  if (error) return false;
  base::UniqueFd fd(
      ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!fd.valid()) {
    error = std::error_code(errno, std::generic_category());
    return false;
  }
  auto failed = [&](int code) {
    error = std::error_code(code, std::generic_category());
    return false;
  };
  machineimage::PlistFileSink sink;
  sink.write = [&](std::string_view rest) {
    if (int code = base::writeAll(fd.get(), rest)) return failed(code);
    return true;
  };
  sink.restart = [&] {
    if (::ftruncate(fd.get(), 0) != 0 || ::lseek(fd.get(), 0, SEEK_SET) != 0) return failed(errno);
    return true;
  };
  if (!fill(sink)) {
    if (!error) error = std::error_code(EIO, std::generic_category());
    return false;
  }
  // A delayed allocation failure (a full disk, a quota) may only show at close.
  if (::close(fd.release()) != 0) return failed(errno);
  fs::permissions(path, static_cast<fs::perms>(mode), fs::perm_options::replace, error);
  return !error;
}

bool writeFileBytes(const fs::path& path, const std::string& bytes, unsigned mode,
                    std::error_code& error) {
  return writeFileWith(path, mode, error,
                       [&](const machineimage::PlistFileSink& sink) { return sink.write(bytes); });
}

// Whether `dir` is a machine image: a real folder (not a link) with machine.plist and root/.
bool isMachineImage(const fs::path& dir) {
  std::error_code error;
  return fs::is_directory(fs::symlink_status(dir, error)) &&
         fs::is_regular_file(fs::symlink_status(dir / "machine.plist", error)) &&
         fs::is_directory(fs::symlink_status(dir / "root", error));
}

// Why `out` can't take a new image, or nothing when it can.
std::optional<std::string> outFolderRefusal(const fs::path& out, bool replace) {
  if (out.empty()) return std::string("OUT_DIR is empty; give a new folder");
  std::error_code error;
  fs::file_status status = fs::symlink_status(out, error);
  // Only "not there" leaves the name free; any other failure (a name too long, a folder that
  // can't be searched) is a name no image can be written under, so it is the caller's mistake
  // and is said before the dump is read.
  if (status.type() == fs::file_type::not_found) return std::nullopt;
  if (error) return out.string() + ": " + error.message();
  if (fs::is_directory(fs::symlink_status(out, error)) && fs::is_empty(out, error))
    return std::nullopt;
  if (replace) {
    if (isMachineImage(out)) return std::nullopt;
    return out.string() +
           ": exists and is not a machine image (no machine.plist and root/); --force replaces "
           "only an image";
  }
  return out.string() +
         ": exists and is not an empty folder; give a new one, or --force to replace an image";
}

// The files and folders a recording may hold: a folder with none of them holds no recording.
bool holdsRecording(const fs::path& dir) {
  constexpr std::string_view kNames[] = {
      dumpfile::kIoreg,      dumpfile::kDiskList,        dumpfile::kApfsList,
      dumpfile::kInfoFolder, dumpfile::kMount,           dumpfile::kDf,
      dumpfile::kSwVers,     dumpfile::kProductVersion,  dumpfile::kTmDestinations,
      dumpfile::kTmStatus,   dumpfile::kTimeMachinePrefs};
  std::error_code error;
  for (std::string_view name : kNames) {
    if (fs::exists(fs::symlink_status(dir / name, error))) return true;
  }
  return false;
}

// The folder that holds the recording: `dir`, or the one folder in it that does (a recording
// unpacked one level too deep, as an archive of the folder is). Gives the folder, or why none.
struct RecordingFolder {
  std::optional<fs::path> folder;
  std::string why;       // when there is no folder; else a note when it is one level down
  bool session = false;  // `folder` is the one file in the folder given: a terminal session
};

// A folder of its own for the parts of a terminal session, removed with this object.
class ScratchFolder {
 public:
  ScratchFolder() {
    std::error_code error;
    std::string pattern = (fs::temp_directory_path(error) / "strandel-import-XXXXXX").string();
    if (!error && ::mkdtemp(pattern.data())) path_ = pattern;
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  ~ScratchFolder() {
    std::error_code ignored;
    if (!path_.empty()) fs::remove_all(path_, ignored);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// A terminal session in one file, split into a dump folder in `scratch`. Gives why not when
// the file holds no command of a recording.
std::optional<std::string> splitSession(const fs::path& file, const ScratchFolder& scratch,
                                        Problems& problems) {
  auto bytes = readBytes(file);
  if (!bytes) return file.string() + ": not a folder, and not a plain file that can be read";
  auto fed = withLineFeeds(*bytes);
  std::string text = fed ? std::move(*fed) : std::move(*bytes);
  std::vector<TranscriptPart> parts = splitTranscript(text);
  if (parts.empty())
    return file.string() +
           ": not a folder, nor a terminal session with record-mac's commands (diskutil, mount, "
           "df, sw_vers) in it";
  if (scratch.path().empty())
    return file.string() + ": no scratch folder can be made to split it in";
  std::string said;
  for (const TranscriptPart& part : parts) {
    std::error_code error;
    fs::path target = scratch.path() / part.file;
    if (!writeFileBytes(target, part.text, 0600, error))
      return target.string() + ": " + error.message();
    said += (said.empty() ? "" : "; ") + part.command + " (lines " +
            std::to_string(part.firstLine) + "-" + std::to_string(part.lastLine) + ") as " +
            part.file;
  }
  problems.add(file.filename().string(),
               std::string("a terminal session") +
                   (fed ? " (its lines end in CR LF or CR, read as if they ended in LF)" : "") +
                   ", split into its commands: " + said);
  return std::nullopt;
}

RecordingFolder recordingFolder(const fs::path& dir) {
  std::error_code error;
  fs::file_status status = fs::status(dir, error);
  if (!fs::exists(status)) return {std::nullopt, dir.string() + ": no such folder"};
  if (!fs::is_directory(status))
    return {
        std::nullopt,
        dir.string() +
            ": not a folder (give the folder that record-mac wrote, or a terminal session's file)"};
  if (holdsRecording(dir)) return {dir, ""};
  std::vector<fs::path> below, files;
  // A folder of a few entries is searched; a folder of thousands (a home folder) is not a dump.
  std::size_t looked = 0;
  for (auto it = fs::directory_iterator(dir, error);
       !error && it != fs::directory_iterator() && looked < 1000; it.increment(error), ++looked) {
    if (it->path().filename().string().starts_with('.') || it->is_symlink(error)) continue;
    if (it->is_regular_file(error)) files.push_back(it->path());
    if (!it->is_directory(error)) continue;
    if (holdsRecording(it->path())) below.push_back(it->path());
  }
  // A ticket's one pasted file, unpacked into a folder of its own.
  if (below.empty() && files.size() == 1)
    return {files.front(),
            "no recording files; its one file " + files.front().filename().string() +
                " is read as a terminal session",
            true};
  std::sort(below.begin(), below.end());
  if (below.size() == 1)
    return {below.front(), "the recording is in its folder " + below.front().filename().string() +
                               ", which is read"};
  if (below.size() > 1) {
    std::string names;
    for (const fs::path& path : below)
      names += (names.empty() ? "" : ", ") + path.filename().string();
    return {std::nullopt, dir.string() + ": holds no recording itself, but its folders " + names +
                              " do; give one of them"};
  }
  return {dir, ""};
}

}  // namespace

MachineImage buildImage(const Dump& dump, Problems& problems) {
  MachineImage image;
  std::vector<MountLine> mounts =
      dump.mount ? readMountLines(*dump.mount, problems) : std::vector<MountLine>{};
  DiskMap disks = gatherDisks(dump, mounts, problems);

  RegistryOptions options;
  // With no info folder at all, its one line says it for every disk.
  options.noteMissingInfo = dump.hasInfoFolder;
  options.failures = &dump.failures;
  std::vector<RegistryEntry> registry;
  if (dump.ioreg) {
    registry = registryFromIoreg(*dump.ioreg, disks, options, problems);
  } else {
    guessFromLayout(disks, mounts);
    settleTree(disks, problems);
    guessPlacement(disks);
    registry = registryFromDisks(disks, options, problems);
    noteGuesses(disks, problems);
  }
  if (!dump.mount) mounts = mountLinesFromDisks(disks, problems);
  std::optional<VersionGuess> version;
  if (!dump.productVersion && !(dump.swVers && productVersionOf(*dump.swVers)))
    version = leastVersion(dump, disks, mounts);
  RegistryCounts counts = countEntries(registry);
  image.entries = counts.entries;
  image.media = counts.media;

  image.mountEntries = mountEntries(std::move(mounts), dump, disks, problems);
  image.mounts = image.mountEntries.size();
  image.machinePlist = machineimage::machinePlist(registryValue(std::move(registry)), {});

  std::set<std::string> folders = imageFolders(image.mountEntries, problems);
  image.files = toolFiles(dump, version, problems);
  image.volumes = counts.volumes;
  for (const ImageFile& file : image.files) {
    if (file.path != "usr/bin/sw_vers.d/productVersion.txt") continue;
    image.version = file.bytes.substr(0, file.bytes.find('\n'));
    if (dump.productVersion) {
      image.versionSource = std::string(dumpfile::kProductVersion);
    } else if (dump.swVers && productVersionOf(*dump.swVers)) {
      image.versionSource = std::string(dumpfile::kSwVers);
    } else if (version) {
      image.versionSource = "a guess: the least that " + version->why + " allows";
    }
  }
  // The image keeps its own account of what the importer decided.
  if (!problems.guesses().empty()) {
    PlistArray guesses;
    for (const std::string& line : problems.guesses()) guesses.emplace_back(line);
    image.machinePlist.asDictionary()->emplace("ImportGuesses", std::move(guesses));
  }
  // Git keeps no empty folders, and a mount point that is gone makes statfs fail; a leaf
  // folder gets an empty .keep file so that a checked-in image keeps its mount points.
  for (const std::string& folder : folders) {
    std::string inside = folder + "/";
    auto below = folders.lower_bound(inside);
    bool filled = below != folders.end() && below->starts_with(inside);
    for (const ImageFile& file : image.files) filled = filled || file.path.starts_with(inside);
    if (!filled) image.files.push_back({inside + ".keep", ""});
  }
  image.folders.assign(folders.begin(), folders.end());
  return image;
}

bool isUsable(const MachineImage& image) { return image.media > 0 || image.mounts > 0; }

std::optional<std::string> writeImage(const MachineImage& image, const fs::path& out,
                                      bool replace) {
  std::error_code error;
  if (auto refusal = outFolderRefusal(out, replace)) return refusal;
  fs::path parent = out.parent_path().empty() ? fs::path(".") : out.parent_path();
  fs::path building =
      parent / (".import-" + out.filename().string() + "-" + std::to_string(::getpid()));
  fs::remove_all(building, error);
  auto fail = [&](const std::string& what) -> std::optional<std::string> {
    std::error_code ignored;
    fs::remove_all(building, ignored);
    return what;
  };
  if (!fs::create_directories(building / "root", error))
    return fail(building.string() + ": " + error.message());
  for (const std::string& folder : image.folders) {
    fs::create_directories(building / "root" / folder, error);
    if (error) return fail("root/" + folder + ": " + error.message());
  }
  for (const ImageFile& file : image.files) {
    if (!writeFileBytes(building / "root" / file.path, file.bytes, file.mode, error))
      return fail("root/" + file.path + ": " + error.message());
  }
  static const PlistDict kNoDictionary;
  const PlistDict* machine = image.machinePlist.asDictionary();
  if (!writeFileWith(building / "machine.plist", 0644, error,
                     [&](const machineimage::PlistFileSink& sink) {
                       const machineimage::MountEntries mounts{
                           image.mountEntries.size(), [&](std::size_t i) {
                             const HeldMount& m = image.mountEntries[i];
                             return machineimage::mountEntry(m.mountedOn, m.mountedFrom, m.type,
                                                             m.blockSize, m.blocks, m.freeBlocks);
                           }};
                       return machineimage::writeMachinePlist(machine ? *machine : kNoDictionary,
                                                              mounts, sink);
                     }))
    return fail("machine.plist: " + error.message());
  // An image being replaced steps aside first and is removed only once the new one is in place.
  fs::path old;
  if (isMachineImage(out) && !fs::is_empty(out, error)) {
    old = parent / (".import-old-" + out.filename().string() + "-" + std::to_string(::getpid()));
    fs::rename(out, old, error);
    if (error) return fail(out.string() + ": " + error.message());
  }
  // Renaming over an empty folder replaces it in one step.
  fs::rename(building, out, error);
  if (error) {
    std::error_code ignored;
    if (!old.empty()) fs::rename(old, out, ignored);
    return fail(out.string() + ": " + error.message());
  }
  if (!old.empty()) fs::remove_all(old, error);
  return std::nullopt;
}

ImportReport importMac(const fs::path& dumpDir, const fs::path& outDir,
                       const ImportOptions& options) {
  ImportReport report;
  Problems problems;
  ScratchFolder scratch;
  RecordingFolder recording;
  std::error_code error;
  if (fs::is_regular_file(dumpDir, error)) {
    if (auto refusal = splitSession(dumpDir, scratch, problems)) {
      report.message = *refusal;
      return report;
    }
    recording.folder = scratch.path();
  } else {
    recording = recordingFolder(dumpDir);
  }
  if (!recording.folder) {
    report.message = recording.why;
    return report;
  }
  if (recording.session) {
    if (auto refusal = splitSession(*recording.folder, scratch, problems)) {
      report.message = dumpDir.string() + ": " + recording.why + ", but " + *refusal;
      return report;
    }
    recording.folder = scratch.path();
  }
  if (auto refusal = knownFactsRefusal(options.facts)) {
    report.message = *refusal;
    return report;
  }
  if (auto refusal = outFolderRefusal(outDir, options.replace)) {
    report.message = *refusal;
    return report;
  }
  if (!recording.why.empty()) problems.add(dumpDir.string(), recording.why);
  Dump dump = readDump(*recording.folder, problems);
  std::vector<std::string> given = applyKnownFacts(options.facts, dump, problems);
  MachineImage image = buildImage(dump, problems);
  report.problems = problems.lines();
  report.guesses = problems.guesses().size();
  if (!isUsable(image)) {
    report.status = ImportStatus::NothingUsable;
    report.message =
        dumpDir.string() +
        ": nothing to make an image of (no disk and no mount could be read); nothing was written";
    return report;
  }
  if (auto failure = writeImage(image, outDir, options.replace)) {
    report.status = ImportStatus::NothingUsable;
    report.message = *failure + "; nothing was written";
    return report;
  }
  report.status = ImportStatus::Written;
  std::string version =
      image.version.empty()
          ? std::string("no OS version (the image orders before every version)")
          : "OS version " + image.version + " (" +
                (options.facts.osVersion ? std::string("the command line") : image.versionSource) +
                ")";
  if (!given.empty() && !options.facts.osVersion) {
    version += ", ";
    for (std::size_t i = 0; i < given.size(); ++i) version += (i ? ", " : "") + given[i];
    version += " from the command line";
  }
  auto count = [](std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
  };
  report.message = outDir.string() + ": " + count(image.volumes, "volume", "volumes");
  report.afterVolumes = report.message.size();
  report.message += ", " + version + ", " + count(report.guesses, "guess", "guesses") + ", " +
                    count(problems.filesLeftOut(), "file", "files") + " left out; " +
                    count(image.entries, "registry entry", "registry entries") + " (" +
                    count(image.media, "media object", "media objects") + "), " +
                    count(image.mounts, "mount", "mounts");
  return report;
}

std::optional<std::vector<std::string>> importGuessesOf(const fs::path& imageDir) {
  auto bytes = readBytes(imageDir / "machine.plist");
  if (!bytes) return std::nullopt;
  auto machine = readPlist(*bytes);
  if (!machine || !machine->asDictionary()) return std::nullopt;
  std::vector<std::string> guesses;
  if (const PlistValue* kept = machine->find("ImportGuesses"); kept && kept->asArray()) {
    for (const PlistValue& line : *kept->asArray()) {
      if (const std::string* text = line.asString()) guesses.push_back(*text);
    }
  }
  return guesses;
}

}  // namespace strandel::importer
