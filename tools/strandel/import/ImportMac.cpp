#include "tools/strandel/import/ImportMac.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>
#include <system_error>

#include "base/Handles.hpp"
#include "machineimage/Writer.hpp"
#include "tools/strandel/import/DiskFacts.hpp"
#include "tools/strandel/import/DiskGuesses.hpp"
#include "tools/strandel/import/MountTable.hpp"
#include "tools/strandel/import/Registry.hpp"

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

// Written with the system calls themselves, so that a failure keeps its own errno: a full
// disk says "No space left on device", not a stream's "Input/output error".
bool writeFileBytes(const fs::path& path, const std::string& bytes, unsigned mode, std::error_code& error) {
  fs::create_directories(path.parent_path(), error);
  if (error) return false;
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    error = std::error_code(errno, std::generic_category());
    return false;
  }
  std::string_view rest(bytes);
  while (!rest.empty()) {
    const ssize_t n = base::retryAfterSignal([&] { return ::write(fd, rest.data(), rest.size()); });
    if (n <= 0) {
      error = std::error_code(n < 0 ? errno : EIO, std::generic_category());
      ::close(fd);
      return false;
    }
    rest.remove_prefix(static_cast<std::size_t>(n));
  }
  // A delayed allocation failure (a full disk, a quota) may only show at close.
  if (::close(fd) != 0) {
    error = std::error_code(errno, std::generic_category());
    return false;
  }
  fs::permissions(path, static_cast<fs::perms>(mode), fs::perm_options::replace, error);
  return !error;
}

// machine.plist as XML, which people read and diff, unless XML can't hold a name exactly (a
// control character in a volume name): then in binary, which keeps it.
std::string machinePlistBytes(const PlistValue& machine) {
  std::string xml = writeXmlPlist(machine);
  if (readPlist(xml) == machine) return xml;
  return writeBinaryPlist(machine);
}

// Why `out` can't take a new image, or nothing when it can.
std::optional<std::string> outFolderRefusal(const fs::path& out) {
  if (out.empty()) return std::string("OUT_DIR is empty; give a new folder");
  std::error_code error;
  bool exists = fs::exists(out, error);
  // Only "not there" leaves the name free; any other failure (a name too long, a folder that
  // can't be searched) is a name no image can be written under, so it is the caller's mistake
  // and is said before the dump is read.
  if (error) return out.string() + ": " + error.message();
  if (!exists) return std::nullopt;
  if (fs::is_directory(out, error) && fs::is_empty(out, error)) return std::nullopt;
  return out.string() + ": exists and is not an empty folder; give a new one";
}

}  // namespace

MachineImage buildImage(const Dump& dump, Problems& problems) {
  MachineImage image;
  std::vector<MountLine> mounts = dump.mount ? readMountLines(*dump.mount, problems) : std::vector<MountLine>{};
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
  if (!dump.productVersion && !(dump.swVers && productVersionOf(*dump.swVers))) version = leastVersion(dump, disks, mounts);
  RegistryCounts counts = countEntries(registry);
  image.entries = counts.entries;
  image.media = counts.media;

  PlistArray mountArray = mountEntries(mounts, dump, disks, problems);
  image.mounts = mountArray.size();
  image.machinePlist = machineimage::machinePlist(registryValue(registry), std::move(mountArray));

  image.folders.push_back("tmp");
  for (const MountLine& mount : mounts) {
    if (auto folder = mountFolder(mount.on)) {
      bool known = folder->empty();
      for (const std::string& f : image.folders) known = known || f == *folder;
      if (!known) image.folders.push_back(*folder);
    } else {
      problems.add(dumpfile::kMount, mount.on + ": not a plain absolute path; no folder is made for it");
    }
  }
  image.files = toolFiles(dump, version, problems);
  // The image keeps its own account of what the importer decided.
  if (!problems.guesses().empty()) {
    PlistArray guesses;
    for (const std::string& line : problems.guesses()) guesses.emplace_back(line);
    image.machinePlist.asDictionary()->emplace("ImportGuesses", std::move(guesses));
  }
  // Git keeps no empty folders, and a mount point that is gone makes statfs fail; a leaf
  // folder gets an empty .keep file so that a checked-in image keeps its mount points.
  for (const std::string& folder : image.folders) {
    std::string inside = folder + "/";
    bool filled = false;
    for (const std::string& other : image.folders) filled = filled || other.starts_with(inside);
    for (const ImageFile& file : image.files) filled = filled || file.path.starts_with(inside);
    if (!filled) image.files.push_back({inside + ".keep", ""});
  }
  return image;
}

bool isUsable(const MachineImage& image) { return image.media > 0 || image.mounts > 0; }

std::optional<std::string> writeImage(const MachineImage& image, const fs::path& out) {
  std::error_code error;
  if (auto refusal = outFolderRefusal(out)) return refusal;
  fs::path parent = out.parent_path().empty() ? fs::path(".") : out.parent_path();
  fs::path building = parent / (".import-" + out.filename().string() + "-" + std::to_string(::getpid()));
  fs::remove_all(building, error);
  auto fail = [&](const std::string& what) -> std::optional<std::string> {
    std::error_code ignored;
    fs::remove_all(building, ignored);
    return what;
  };
  if (!fs::create_directories(building / "root", error)) return fail(building.string() + ": " + error.message());
  for (const std::string& folder : image.folders) {
    fs::create_directories(building / "root" / folder, error);
    if (error) return fail("root/" + folder + ": " + error.message());
  }
  for (const ImageFile& file : image.files) {
    if (!writeFileBytes(building / "root" / file.path, file.bytes, file.mode, error))
      return fail("root/" + file.path + ": " + error.message());
  }
  if (!writeFileBytes(building / "machine.plist", machinePlistBytes(image.machinePlist), 0644, error))
    return fail("machine.plist: " + error.message());
  // Renaming over an empty folder replaces it in one step.
  fs::rename(building, out, error);
  if (error) return fail(out.string() + ": " + error.message());
  return std::nullopt;
}

ImportReport importMac(const fs::path& dumpDir, const fs::path& outDir) {
  ImportReport report;
  std::error_code error;
  if (!fs::is_directory(dumpDir, error)) {
    report.message = dumpDir.string() + ": not a folder (give the folder that tools/record-mac wrote)";
    return report;
  }
  if (auto refusal = outFolderRefusal(outDir)) {
    report.message = *refusal;
    return report;
  }
  Problems problems;
  Dump dump = readDump(dumpDir, problems);
  MachineImage image = buildImage(dump, problems);
  report.problems = problems.lines();
  if (!isUsable(image)) {
    report.status = ImportStatus::NothingUsable;
    report.message = dumpDir.string() + ": nothing to make an image of (no disk and no mount could be read); nothing was written";
    return report;
  }
  if (auto failure = writeImage(image, outDir)) {
    report.status = ImportStatus::NothingUsable;
    report.message = *failure + "; nothing was written";
    return report;
  }
  report.status = ImportStatus::Written;
  report.message = outDir.string() + ": " + std::to_string(image.entries) + " registry entries (" +
                   std::to_string(image.media) + " media objects), " + std::to_string(image.mounts) + " mounts";
  return report;
}

}  // namespace strandel::importer
