// The kernel mount table of this host, read through libmount, and statfs figures.
#include <sys/statfs.h>

#include <limits>
#include <string>
#include <utility>

#include "platform/linux/Libmount.hpp"
#include "platform/linux/LiveMountTable.hpp"

namespace strandel::platform::live {
namespace {

std::string_view viewOf(const char* text) {
  return text ? std::string_view(text) : std::string_view();
}

class LiveMountTable final : public MountTable {
 public:
  explicit LiveMountTable(std::string mountInfoPath) : mountInfoPath_(std::move(mountInfoPath)) {}

  bool scan(const std::function<bool(const MountEntryView&)>& visit) override {
    const LibmountCalls* mnt = libmount();
    if (!mnt) return false;
    // Each scan owns its table and iterator; nothing of libmount is shared between calls.
    LibmountTable table(mnt->newTable());
    if (!table) return false;
    // The kernel's own view of this process's mounts. libmount undoes the kernel's octal escapes
    // (blank \040, tab \011, line feed \012, backslash \134) and leaves every other byte as it
    // stands, so names arrive as the raw bytes they were mounted with, UTF-8 or not.
    if (mnt->tableParseFile(table.get(), mountInfoPath_.c_str()) != 0) return false;
    LibmountIter iter(mnt->newIter(MNT_ITER_FORWARD));
    if (!iter) return false;
    libmnt_fs* fs = nullptr;
    while (mnt->tableNextFs(table.get(), iter.get(), &fs) == 0) {
      // Mounts with no device behind them (proc, sysfs, tmpfs) often name their source "none";
      // both that and a missing source read as no source at all.
      std::string_view source = viewOf(mnt->fsGetSource(fs));
      if (source == "none") source = {};
      MountEntryView entry{viewOf(mnt->fsGetTarget(fs)), source, viewOf(mnt->fsGetFstype(fs))};
      if (visit(entry)) break;
    }
    return true;
  }

  std::optional<FsFigures> statfs(std::string_view path) override {
    std::string terminated(path);
    if (terminated.empty() || terminated.find('\0') != std::string::npos) return std::nullopt;
    struct statfs figures;
    if (base::retryAfterSignal([&] { return ::statfs(terminated.c_str(), &figures); }) != 0)
      return std::nullopt;
    // On Linux f_bsize is the preferred I/O size, while f_blocks and f_bfree count fragments of
    // f_frsize bytes (what `df -B1` multiplies by). The two differ on some file systems, so the
    // fragment size is the block size that makes blocks times block size the file system's size.
    // Kernels before 2.6 left f_frsize 0; f_bsize was the unit then.
    auto unit = static_cast<std::uint64_t>(figures.f_frsize ? figures.f_frsize : figures.f_bsize);
    if (unit == 0 || unit > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
    return FsFigures{static_cast<std::uint32_t>(unit), static_cast<std::uint64_t>(figures.f_blocks),
                     static_cast<std::uint64_t>(figures.f_bfree)};
  }

 private:
  std::string mountInfoPath_;
};

}  // namespace

std::unique_ptr<MountTable> makeLiveMountTable() {
  return makeLiveMountTable("/proc/self/mountinfo");
}

std::unique_ptr<MountTable> makeLiveMountTable(std::string mountInfoPath) {
  return std::make_unique<LiveMountTable>(std::move(mountInfoPath));
}

}  // namespace strandel::platform::live
