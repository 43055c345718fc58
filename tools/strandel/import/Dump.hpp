// A dump folder as tools/record-mac writes it on a Mac, read whole, with one line for each
// thing that is missing or can't be read.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <strandel/PlistValue.hpp>

#include "tools/strandel/import/BsdName.hpp"

namespace strandel::importer {

/// The files of a dump folder; tools/record-mac documents the same layout at its top.
namespace dumpfile {
inline constexpr std::string_view kIoreg = "ioreg.plist";  // ioreg -a -l -w0 -p IOService
inline constexpr std::string_view kDiskList = "diskutil-list.plist";  // diskutil list -plist
inline constexpr std::string_view kApfsList =
    "diskutil-apfs-list.plist";                          // diskutil apfs list -plist
inline constexpr std::string_view kInfoFolder = "info";  // info/BSD.plist: diskutil info -plist BSD
inline constexpr std::string_view kInfoText =
    "diskutil-info.txt";  // diskutil info -all, or info of disks, as text
inline constexpr std::string_view kMount = "mount.txt";     // mount
inline constexpr std::string_view kDf = "df-k.txt";         // df -k
inline constexpr std::string_view kSwVers = "sw_vers.txt";  // sw_vers
inline constexpr std::string_view kProductVersion =
    "sw_vers-productVersion.txt";  // sw_vers -productVersion
inline constexpr std::string_view kTmDestinations =
    "tmutil-destinationinfo.plist";                                   // tmutil destinationinfo -X
inline constexpr std::string_view kTmStatus = "tmutil-status.plist";  // tmutil status -X
inline constexpr std::string_view kTimeMachinePrefs =
    "com.apple.TimeMachine.plist";                             // copy of /Library/Preferences/...
inline constexpr std::string_view kFailures = "failures.txt";  // "FILE: why" per file not made
}  // namespace dumpfile

/// The problems found while importing, one line each: "FILE: what is wrong and what was done".
class Problems {
 public:
  void add(std::string_view place, std::string_view what);
  /// A line for a value the importer decided where the recording does not say; the image
  /// keeps these lines too.
  void guess(std::string_view place, std::string_view what) {
    add(place, what);
    guesses_.push_back(lines_.back());
  }
  /// A line for a file that is there but can't be used, which the import leaves out.
  void leaveOut(std::string_view place, std::string_view what);
  const std::vector<std::string>& lines() const { return lines_; }
  const std::vector<std::string>& guesses() const { return guesses_; }
  std::size_t filesLeftOut() const { return leftOut_; }

 private:
  std::vector<std::string> lines_, guesses_;
  std::size_t leftOut_ = 0;
};

/// What a dump folder holds. A file that is missing or can't be read is absent here and has a
/// line in the problems.
struct Dump {
  std::optional<PlistValue> ioreg;  // a dictionary (the root) or an array of roots
  std::optional<PlistDict> diskList;
  std::optional<PlistDict> apfsList;
  std::map<std::string, PlistDict, BsdLess> info;  // by BSD name; error answers left out
  // The recorded bytes of the listings that parsed, which the image's diskutil replays.
  std::optional<std::string> diskListBytes, apfsListBytes;
  std::map<std::string, std::string, BsdLess> infoBytes;
  bool hasInfoFolder = false;
  std::map<std::string, std::string, std::less<>>
      failures;  // failures.txt: file -> the recorder's reason
  std::optional<std::string> mount, df;
  std::optional<std::string> swVers, productVersion;
  std::optional<std::string> tmDestinations, tmStatus;  // the bytes, replayed as they are
  std::optional<std::string> timeMachinePrefs;          // the bytes, copied as they are
};

/// Reads the dump folder `dir`. Each file that is missing gets a line naming it (with the
/// recorder's reason when failures.txt gives one); each that is not what its name promises
/// (a cut or damaged property list, an error answer of diskutil) gets a line and is left out.
Dump readDump(const std::filesystem::path& dir, Problems& problems);

/// The bytes of the regular file at `path`, or nothing when it can't be read, is a link, a
/// FIFO or a device, or is larger than any recording.
std::optional<std::string> readBytes(const std::filesystem::path& path);

}  // namespace strandel::importer
