#include "tools/strandel/import/Dump.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <new>
#include <system_error>
#include <utility>

#include "base/FileBytes.hpp"
#include "tools/strandel/import/DiskListText.hpp"
#include "tools/strandel/import/DiskutilText.hpp"
#include "tools/strandel/import/MountText.hpp"
#include "tools/strandel/import/PastedText.hpp"

namespace strandel::importer {
namespace {

namespace fs = std::filesystem;

// A dump comes from someone else's Mac: only its regular files are read, never what a link
// leads to (a private file of the importing user) nor a FIFO or device (which would never end).
// The largest recording of a real Mac, its registry, runs to a few tens of megabytes.
constexpr off_t kMaxDumpFileSize = off_t{256} << 20;
// All of a dump's files together: a real Mac's come to a few tens of megabytes, and the image
// made from them is of the same order, so this bounds what an import reads, holds and writes.
constexpr std::uint64_t kMaxDumpSize = std::uint64_t{512} << 20;

base::FileBytes readDumpFile(const fs::path& path) {
  return base::readFileBytes(path.string(), static_cast<std::size_t>(kMaxDumpFileSize),
                             base::Links::Refuse);
}

// The recorder's own account of what it could not make: "FILE: why", one line each.
std::map<std::string, std::string, std::less<>> readFailures(const fs::path& dir) {
  std::map<std::string, std::string, std::less<>> failures;
  auto text = readBytes(dir / dumpfile::kFailures);
  if (!text) return failures;
  for (std::string_view line : textLines(*text)) {
    std::size_t colon = line.find(": ");
    if (colon == std::string_view::npos) continue;
    failures.emplace(std::string(line.substr(0, colon)), std::string(line.substr(colon + 2)));
  }
  return failures;
}

class Reader {
 public:
  Reader(const fs::path& dir, Problems& problems)
      : dir_(dir), problems_(problems), failures_(readFailures(dir)) {}

  const std::map<std::string, std::string, std::less<>>& failures() const { return failures_; }
  // The files whose lines ended in CR LF or CR, read with LF.
  const std::vector<std::string>& carriageReturns() const { return carriageReturns_; }

  // The bytes of a dump file; a missing file gets a line saying what its absence costs. A file
  // reached through another name before (a hard link) is read once, under its first name.
  std::optional<std::string> bytes(std::string_view name, std::string_view withoutIt) {
    const fs::path path = dir_ / name;
    struct stat info;
    if (::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
      auto [first, isNew] = names_.try_emplace({info.st_dev, info.st_ino}, std::string(name));
      if (!isNew) {
        problems_.add(name, "the same file as " + first->second +
                                " (a hard link); read once, left out here; " +
                                std::string(withoutIt));
        return std::nullopt;
      }
    }
    const std::uint64_t room = kMaxDumpSize - taken_;
    const bool roomIsLess = room < static_cast<std::uint64_t>(kMaxDumpFileSize);
    base::FileBytes file = base::readFileBytes(
        path.string(), static_cast<std::size_t>(roomIsLess ? room : kMaxDumpFileSize),
        base::Links::Refuse);
    std::string what;
    switch (file.error) {
      case base::ReadError::None:
        taken_ += file.bytes.size();
        if (auto fed = withLineFeeds(file.bytes)) {
          carriageReturns_.emplace_back(name);
          return std::move(*fed);
        }
        return std::move(file.bytes);
      case base::ReadError::Missing:
        what = "missing";
        if (auto reason = failures_.find(name); reason != failures_.end())
          what += " (the recorder: " + reason->second + ")";
        break;
      case base::ReadError::Link:
      case base::ReadError::NotRegular:
        what = "not a plain file (a link, FIFO or device); left out";
        break;
      case base::ReadError::TooLarge:
        what = roomIsLess ? "past what a whole dump may hold (" +
                                std::to_string(kMaxDumpSize >> 20) + " MB in all); left out"
                          : "larger than any recording (over " +
                                std::to_string(kMaxDumpFileSize >> 20) + " MB); left out";
        break;
      case base::ReadError::Failed:
        what = "can't be read";
        break;
    }
    if (file.error == base::ReadError::Missing) {
      problems_.add(name, what + "; " + std::string(withoutIt));
    } else {
      problems_.leaveOut(name, what + "; " + std::string(withoutIt));
    }
    return std::nullopt;
  }

  // A property-list file whose top level is a dictionary; `raw` receives its bytes.
  std::optional<PlistDict> dictionary(std::string_view name, std::string_view withoutIt,
                                      std::optional<std::string>& raw) {
    auto value = plist(name, withoutIt, &raw);
    if (!value) return std::nullopt;
    if (auto* dict = value->asDictionary()) return std::move(*dict);
    problems_.leaveOut(name, "the top level is not a dictionary; " + std::string(withoutIt));
    raw.reset();
    return std::nullopt;
  }

  std::optional<PlistValue> plist(std::string_view name, std::string_view withoutIt,
                                  std::optional<std::string>* raw = nullptr) {
    auto contents = bytes(name, withoutIt);
    if (!contents) return std::nullopt;
    auto value = readPlist(*contents);
    if (!value) {
      // A pasted terminal session: the list itself is intact between prompt lines.
      if (auto span = propertyListSpan(*contents); span && (value = readPlist(*span))) {
        problems_.add(
            name,
            "a property list amid other text (a pasted terminal session?); the list alone is read");
        contents = std::string(*span);
      }
    }
    if (!value && name == dumpfile::kDiskList) {
      // What people paste most: the text form. Its figures are rounded, so diskutil does not
      // replay it.
      if (auto listed = diskListFromText(*contents)) {
        problems_.add(
            name,
            "the text form of diskutil list, read from its columns (sizes rounded as printed); "
            "diskutil replays no list -plist");
        return PlistValue(std::move(*listed));
      }
    }
    if (!value && name == dumpfile::kApfsList) {
      if (auto listed = apfsListFromText(*contents)) {
        problems_.add(name,
                      "the text form of diskutil apfs list, read from its labels; diskutil replays "
                      "no apfs list -plist");
        return PlistValue(std::move(*listed));
      }
    }
    if (!value && name.starts_with(dumpfile::kInfoFolder)) {
      if (auto disks = infoFromText(*contents); disks.size() == 1) {
        problems_.add(name,
                      "the text form of diskutil info, read from its labels; diskutil replays no "
                      "info -plist of it");
        return PlistValue(std::move(disks.front()));
      }
    }
    if (!value) {
      problems_.leaveOut(name,
                         "not a property list (cut short or damaged); " + std::string(withoutIt));
    } else if (raw) {
      *raw = std::move(contents);
    }
    return value;
  }

  // diskutil info of several disks in its text form (info -all, or a session's info commands),
  // which record-mac does not write: its absence says nothing.
  void infoText(std::map<std::string, PlistDict, BsdLess>& info) {
    base::FileBytes file = readDumpFile(dir_ / dumpfile::kInfoText);
    if (file.error == base::ReadError::Missing) return;
    if (file.error != base::ReadError::None) {
      problems_.leaveOut(dumpfile::kInfoText, "can't be read as a plain file; left out");
      return;
    }
    std::string text = withLineFeeds(file.bytes).value_or(std::move(file.bytes));
    std::string names;
    for (PlistDict& disk : infoFromText(text)) {
      std::string bsd = *disk.at("DeviceIdentifier").asString();
      if (!info.emplace(bsd, std::move(disk)).second) continue;
      names += (names.empty() ? "" : ", ") + bsd;
    }
    if (names.empty()) {
      problems_.leaveOut(dumpfile::kInfoText, "no disk (\"Device Identifier:\") in it; left out");
    } else {
      problems_.add(
          dumpfile::kInfoText,
          "the text form of diskutil info, read from its labels: " + names +
              " (an info/ file of the same disk wins); diskutil replays no info -plist of them");
    }
  }

  // Reads info/; false when there is no such folder (and no info in text).
  bool infoFolder(std::map<std::string, PlistDict, BsdLess>& info,
                  std::map<std::string, std::string, BsdLess>& infoBytes) {
    std::error_code error;
    fs::path folder = dir_ / dumpfile::kInfoFolder;
    if (!fs::is_directory(fs::symlink_status(folder, error))) {
      if (info.empty()) {
        problems_.add(
            std::string(dumpfile::kInfoFolder) + "/",
            "missing; the descriptions are made from the listings and the mount table alone");
      }
      return !info.empty();
    }
    std::vector<fs::path> files;
    for (const auto& item : fs::directory_iterator(folder, error)) files.push_back(item.path());
    std::sort(files.begin(), files.end());
    for (const fs::path& path : files) {
      std::string place = std::string(dumpfile::kInfoFolder) + "/" + path.filename().string();
      std::string bsd = path.stem().string();
      if ((path.extension() != ".plist" && path.extension() != ".txt") || !bsdNumbers(bsd)) {
        problems_.leaveOut(place, "not named BSD-NAME.plist; ignored");
        continue;
      }
      std::optional<std::string> raw;
      auto value = plist(place, "its disk is described from the listings instead", &raw);
      if (!value) continue;
      PlistDict* dict = value->asDictionary();
      if (!dict) {
        problems_.leaveOut(
            place,
            "the top level is not a dictionary; its disk is described from the listings instead");
        continue;
      }
      if (auto error = dict->find("Error");
          error != dict->end() && error->second.asBoolean().value_or(false)) {
        const PlistValue* message =
            dict->count("ErrorMessage") ? &dict->at("ErrorMessage") : nullptr;
        std::string said = message && message->asString() ? *message->asString() : "no message";
        problems_.leaveOut(place, "diskutil answered with an error (" + said + "); ignored");
        continue;
      }
      if (auto id = dict->find("DeviceIdentifier"); id != dict->end()) {
        const std::string* name = id->second.asString();
        if (!name || *name != bsd) {
          problems_.leaveOut(place, "describes " + (name ? *name : std::string("another disk")) +
                                        ", not " + bsd + "; ignored");
          continue;
        }
      }
      info.insert_or_assign(bsd, std::move(*dict));
      // A text form is read, not replayed: its figures are not the property list's.
      if (raw) infoBytes.emplace(bsd, std::move(*raw));
    }
    return true;
  }

 private:
  const fs::path& dir_;
  Problems& problems_;
  std::map<std::string, std::string, std::less<>> failures_;
  std::vector<std::string> carriageReturns_;
  std::map<std::pair<dev_t, ino_t>, std::string>
      names_;                // each file read, by device and inode: its first name
  std::uint64_t taken_ = 0;  // the bytes read so far
};

}  // namespace

void Problems::add(std::string_view place, std::string_view what) {
  lines_.push_back(std::string(place) + ": " + std::string(what));
}

void Problems::leaveOut(std::string_view place, std::string_view what) {
  add(place, what);
  ++leftOut_;
}

std::optional<std::string> readBytes(const std::filesystem::path& path) {
  base::FileBytes file = readDumpFile(path);
  if (!file) return std::nullopt;
  return std::move(file.bytes);
}

Dump readDump(const std::filesystem::path& dir, Problems& problems) {
  Reader reader(dir, problems);
  Dump dump;
  dump.ioreg = reader.plist(dumpfile::kIoreg, "the registry is rebuilt from diskutil's listings");
  if (dump.ioreg && !dump.ioreg->asDictionary() && !dump.ioreg->asArray()) {
    problems.add(dumpfile::kIoreg,
                 "neither a registry entry nor an array of them; the registry is rebuilt from "
                 "diskutil's listings");
    dump.ioreg.reset();
  }
  dump.diskList = reader.dictionary(dumpfile::kDiskList,
                                    "disks and partitions come from the other listings only",
                                    dump.diskListBytes);
  dump.apfsList = reader.dictionary(dumpfile::kApfsList,
                                    "APFS roles are taken from diskutil info and the system's "
                                    "mount points, and diskutil replays no APFS listing",
                                    dump.apfsListBytes);
  reader.infoText(dump.info);
  dump.hasInfoFolder = reader.infoFolder(dump.info, dump.infoBytes);
  dump.mount = reader.bytes(
      dumpfile::kMount,
      "the mount table is made from the mount points that the listings and info files give");
  dump.df =
      reader.bytes(dumpfile::kDf,
                   "the mounts' figures come from diskutil info or the listings' sizes, or are 0");
  dump.swVers = reader.bytes(dumpfile::kSwVers,
                             "sw_vers answers what the other recordings show of the version");
  dump.productVersion = reader.bytes(
      dumpfile::kProductVersion,
      "sw_vers -productVersion answers with the ProductVersion line of sw_vers.txt, if any");
  dump.tmDestinations =
      reader.bytes(dumpfile::kTmDestinations, "tmutil destinationinfo -X answers nothing");
  dump.tmStatus = reader.bytes(dumpfile::kTmStatus, "tmutil status -X answers nothing");
  dump.timeMachinePrefs =
      reader.bytes(dumpfile::kTimeMachinePrefs, "the image has no Time Machine preferences");
  dump.failures = reader.failures();
  if (!reader.carriageReturns().empty()) {
    std::string files;
    for (const std::string& name : reader.carriageReturns())
      files += (files.empty() ? "" : ", ") + name;
    problems.add("Line ends", files +
                                  ": lines end in CR LF or CR (pasted from a ticket or another "
                                  "system); read as if they ended in LF");
  }
  return dump;
}

}  // namespace strandel::importer
