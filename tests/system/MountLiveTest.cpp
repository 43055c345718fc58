// The lookups and the capacities against the real kernel mount table: a child process makes a
// private mount namespace, mounts small tmpfs file systems on awkward folder names, and checks
// the answers of the live machine against statfs(2).
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/statfs.h>

#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <tuple>

#include <strandel/Machine.hpp>
#include <strandel/Strandel.hpp>

#include "platform/Machine.hpp"
#include "tests/support/PrivateMounts.hpp"
#include "tests/support/TempDir.hpp"

namespace strandel {
namespace {

struct LiveMount {
  std::string folder;  // under the test's temporary folder
  std::string source;  // the mounted-from name tmpfs is given
  const char* options;
};

const LiveMount kMounts[] = {
    {"plain", "strandel-plain", "size=4m"},
    {"with blank", "strandel src with blank", "size=8m"},
    {"Café Données", "strandel-café", "size=3m"},
    // Latin-1 "é" (0xE9) alone is not UTF-8: a folder, then a source, that no lookup can name.
    {"Latin1-caf\xE9", "strandel-latin1", "size=5m"},
    {"bad-source", "strandel-caf\xE9", "size=6m"},
};

// Runs in the child: every finding is one line on `report`.
void checkLiveMounts(const std::string& base, std::ostream& report) {
  for (const LiveMount& m : kMounts) {
    std::string on = base + "/" + m.folder;
    bool utf8 = (m.folder + m.source).find('\xE9') == std::string::npos;
    std::string from = getVolumeMountFromName(on), found = getVolumeMountOnName(m.source);
    if (from != (utf8 ? m.source : "")) report << "mount from '" << on << "' gave '" << from << "'\n";
    if (found != (utf8 ? on : "")) report << "mount on '" << m.source << "' gave '" << found << "'\n";
    struct statfs figures {};
    if (::statfs(on.c_str(), &figures) != 0) {
      report << "statfs(2) failed on '" << on << "': " << std::strerror(errno) << "\n";
      continue;
    }
    // Linux counts blocks in fragments of f_frsize bytes (what `df -B1` multiplies by).
    double unit = static_cast<double>(figures.f_frsize ? figures.f_frsize : figures.f_bsize);
    double total = unit * static_cast<double>(figures.f_blocks);
    double used = unit * static_cast<double>(figures.f_blocks - figures.f_bfree);
    const std::tuple<const char*, double, double> sizes[] = {
        {"total", ZVFoundationGetVolTotalSize(on), total},
        {"free", ZVFoundationGetVolFreeSize(on), unit * static_cast<double>(figures.f_bfree)},
        {"used", ZVFoundationGetVolUsedSize(on), used},
        // A tmpfs has no disk behind it: the container used size falls back to its own.
        {"APFS used", ZVFoundationGetAPFSVolUsedSize(on), used}};
    for (const auto& [what, got, want] : sizes) {
      if (got != want) report << what << " of '" << on << "' is " << got << ", statfs(2) says " << want << "\n";
    }
  }
}

TEST(MountLive, LookupsAndSizesAgreeWithTheKernel) {
  testing::TempDir base;
  testing::expectInPrivateMountNamespace([&] {
    std::ostringstream report;
    for (const LiveMount& m : kMounts) {
      std::string on = base.str() + "/" + m.folder;
      std::filesystem::create_directories(on);
      if (::mount(m.source.c_str(), on.c_str(), "tmpfs", 0, m.options) != 0) {
        report << "mount of tmpfs on '" << on << "' failed: " << std::strerror(errno) << "\n";
      }
    }
    useLiveMachine();
    if (report.str().empty()) checkLiveMounts(base.str(), report);
    return report.str();
  });
}

}  // namespace
}  // namespace strandel
