// The kernel mount table as the live host reads it (mountinfo lines, names with octal escapes),
// and the mount-table lookups over what it gives.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include <strandel/Strandel.hpp>

#include "base/Utf8.hpp"
#include "fuzz/FuzzCheck.hpp"
#include "fuzz/FuzzMachine.hpp"
#include "platform/linux/LiveMountTable.hpp"

namespace {

using strandel::fuzz::check;

// The table is read from a file, so every input is written over one file of this process.
class TableFile {
 public:
  TableFile() {
    const char* folder = std::getenv("TMPDIR");
    path_ = std::string(folder && *folder ? folder : "/tmp") + "/strandel-fuzz-mountinfo-XXXXXX";
    fd_ = ::mkostemp(path_.data(), O_CLOEXEC);
    check(fd_ >= 0, "a temporary file for the mount table");
  }
  ~TableFile() {
    ::close(fd_);
    ::unlink(path_.c_str());
  }
  void write(std::string_view bytes) {
    check(::ftruncate(fd_, 0) == 0, "the mount table file is emptied");
    check(::pwrite(fd_, bytes.data(), bytes.size(), 0) == static_cast<ssize_t>(bytes.size()),
          "the mount table file is written");
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  int fd_ = -1;
};

struct FirstEntry {
  std::string on, from;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static TableFile file;
  static const auto machine = [] {
    auto made = std::make_shared<strandel::fuzz::FuzzMachine>(
        "10.15.7", strandel::platform::live::makeLiveMountTable(file.path()));
    strandel::platform::setCurrent(made->machine);
    return made;
  }();
  file.write(strandel::fuzz::textOf(data, size));

  std::optional<FirstEntry> first;
  machine->machine->mountTable().scan([&](const strandel::platform::MountEntryView& entry) {
    first = FirstEntry{std::string(entry.mountedOn), std::string(entry.mountedFrom)};
    return true;
  });
  if (!first) return 0;

  // The first entry answers every lookup that it matches.
  if (strandel::base::isValidUtf8(first->on)) {
    std::string from = strandel::getVolumeMountFromName(first->on);
    check(from == (strandel::base::isValidUtf8(first->from) ? first->from : ""),
          "the first mount point gives its source");
  }
  if (first->from.starts_with("/dev/") && strandel::base::isValidUtf8(first->from)) {
    std::string on = strandel::getVolumeMountOnName(first->from);
    check(on == (strandel::base::isValidUtf8(first->on) ? first->on : ""),
          "the first device gives its mount point");
  }
  strandel::GetVolumeAPFS(first->on);
  return 0;
}
