#include "tools/strandel/import/ToolScripts.hpp"

#include <cctype>

#include "tools/strandel/import/KnownFacts.hpp"
#include "tools/strandel/import/MountText.hpp"

namespace strandel::importer {
namespace {

constexpr const char* kDiskutil = R"(#!/bin/sh
# diskutil of an imported Mac: replays what the Mac's own diskutil printed when it was
# recorded. It runs with an empty environment, so programs are named by absolute path and the
# recordings are found next to this script.
recorded="${0%/*}/diskutil.d"
file=
case "$*" in
  "apfs list -plist") file=apfs-list.plist ;;
  "list -plist") file=list.plist ;;
esac
if [ "$#" -eq 3 ] && [ "$1" = info ] && [ "$2" = -plist ]; then
  disk=${3#/dev/}
  case $disk in
    disk*[!0-9s]* | *[!0-9a-z]*) ;;
    disk*) file=info/$disk.plist ;;
  esac
fi
if [ -n "$file" ] && [ -f "$recorded/$file" ]; then
  exec /bin/cat "$recorded/$file"
fi
echo "diskutil: nothing was recorded for: diskutil $*" >&2
exit 1
)";

constexpr const char* kSwVers = R"(#!/bin/sh
# sw_vers of an imported Mac: replays what the Mac's own sw_vers printed when it was recorded.
recorded="${0%/*}/sw_vers.d"
file=
case "$*" in
  "") file=sw_vers.txt ;;
  "-productVersion") file=productVersion.txt ;;
esac
if [ -n "$file" ] && [ -f "$recorded/$file" ]; then
  exec /bin/cat "$recorded/$file"
fi
echo "sw_vers: nothing was recorded for: sw_vers $*" >&2
exit 1
)";

constexpr const char* kTmutil = R"(#!/bin/sh
# tmutil of an imported Mac: replays what the Mac's own tmutil printed when it was recorded.
recorded="${0%/*}/tmutil.d"
file=
case "$*" in
  "destinationinfo -X") file=destinationinfo-X.plist ;;
  "status -X") file=status-X.plist ;;
esac
if [ -n "$file" ] && [ -f "$recorded/$file" ]; then
  exec /bin/cat "$recorded/$file"
fi
echo "tmutil: nothing was recorded for: tmutil $*" >&2
exit 1
)";

}  // namespace

std::optional<std::string> productVersionOf(std::string_view swVersOutput) {
  auto version = labelledValue(swVersOutput, "ProductVersion");
  if (!version || version->empty()) return std::nullopt;
  return std::string(*version) + "\n";
}

namespace {

// sw_vers -productVersion pasted with its prompt lines: the first line that is a version
// ("14.1.1", "10.15"), with its line end; nothing when its first line already is one, or when
// no line is.
std::optional<std::string> versionAmidOtherText(std::string_view text) {
  auto isVersion = [](std::string_view line) {
    return !line.empty() && std::isdigit(static_cast<unsigned char>(line.front())) &&
           line.find_first_not_of("0123456789.") == std::string_view::npos;
  };
  std::vector<std::string_view> lines = textLines(text);
  if (lines.empty() || isVersion(lines.front())) return std::nullopt;
  for (std::string_view line : lines) {
    if (isVersion(line)) return std::string(line) + "\n";
  }
  return std::nullopt;
}

}  // namespace

std::vector<ImageFile> toolFiles(const Dump& dump,
                                 const std::optional<VersionGuess>& guessedVersion,
                                 Problems& problems) {
  std::vector<ImageFile> files;
  files.push_back({"usr/sbin/diskutil", kDiskutil, 0755});
  if (dump.apfsListBytes)
    files.push_back({"usr/sbin/diskutil.d/apfs-list.plist", *dump.apfsListBytes});
  if (dump.diskListBytes) files.push_back({"usr/sbin/diskutil.d/list.plist", *dump.diskListBytes});
  for (const auto& [bsd, bytes] : dump.infoBytes)
    files.push_back({"usr/sbin/diskutil.d/info/" + bsd + ".plist", bytes});

  files.push_back({"usr/bin/sw_vers", kSwVers, 0755});
  std::optional<std::string> swVers = dump.swVers;
  std::optional<std::string> productVersion = dump.productVersion;
  if (productVersion) {
    if (auto version = versionAmidOtherText(*productVersion)) {
      problems.add(dumpfile::kProductVersion,
                   "a version amid other text (a pasted terminal session?); sw_vers "
                   "-productVersion answers " +
                       version->substr(0, version->size() - 1));
      productVersion = version;
    }
  }
  if (!productVersion && swVers) productVersion = productVersionOf(*swVers);
  if (!productVersion && guessedVersion) {
    productVersion = guessedVersion->version + "\n";
    if (!swVers) {
      swVers = swVersText(guessedVersion->version);
    } else if (!productVersionOf(*swVers)) {
      swVers = withSwVersLine(*swVers, "ProductVersion", guessedVersion->version);
    }
    problems.guess("sw_vers", guessedVersion->version + ", the least version that " +
                                  guessedVersion->why +
                                  " allows (no recording of sw_vers gives it); sw_vers answers it");
  } else if (!productVersion) {
    problems.add(
        "sw_vers",
        std::string(dump.swVers ? "no ProductVersion line" : "no recording shows the version") +
            "; sw_vers -productVersion answers nothing, so the Mac orders before every version: "
            "the APFS lookups answer nothing and byte counts are in units of 1024");
  }
  if (swVers) files.push_back({"usr/bin/sw_vers.d/sw_vers.txt", *swVers});
  if (productVersion) files.push_back({"usr/bin/sw_vers.d/productVersion.txt", *productVersion});

  files.push_back({"usr/bin/tmutil", kTmutil, 0755});
  if (dump.tmDestinations)
    files.push_back({"usr/bin/tmutil.d/destinationinfo-X.plist", *dump.tmDestinations});
  if (dump.tmStatus) files.push_back({"usr/bin/tmutil.d/status-X.plist", *dump.tmStatus});

  if (dump.timeMachinePrefs) {
    if (!readPlist(*dump.timeMachinePrefs)) {
      problems.add(dumpfile::kTimeMachinePrefs,
                   "not a property list (cut short or damaged); copied as it is");
    }
    files.push_back({"Library/Preferences/com.apple.TimeMachine.plist", *dump.timeMachinePrefs});
  }
  return files;
}

}  // namespace strandel::importer
