// Files of an image: every platform path is looked up under the image's root folder.
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <new>
#include <vector>

#include "platform/image/ImageServices.hpp"
#include "platform/image/RootPaths.hpp"

namespace strandel::platform::image {
namespace {

// The property lists we read are small; this only stops a stray huge file from being slurped.
constexpr off_t kMaxPlistFileSize = off_t{64} << 20;

// The open is non-blocking, so that a FIFO planted in an image is refused rather than waited on.
std::optional<std::string> readWhole(const ImageRoot& root, std::string_view path) {
  UniqueFd fd = root.openFile(path, O_RDONLY | O_NONBLOCK);
  if (!fd) return std::nullopt;
  struct stat info;
  if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > kMaxPlistFileSize)
    return std::nullopt;
  std::string bytes;
  char buffer[16384];
  for (;;) {
    ssize_t n = retryAfterSignal([&] { return ::read(fd.get(), buffer, sizeof buffer); });
    if (n < 0) return std::nullopt;
    if (n == 0) return bytes;
    bytes.append(buffer, static_cast<std::size_t>(n));
    if (bytes.size() > static_cast<std::size_t>(kMaxPlistFileSize)) return std::nullopt;
  }
}

std::string hostUserName() {
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
  struct passwd entry;
  struct passwd* found = nullptr;
  if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_name)
    return found->pw_name;
  // A container user without a passwd entry still has a name in the environment.
  for (const char* variable : {"USER", "LOGNAME"}) {
    if (const char* name = std::getenv(variable); name && *name) return name;
  }
  return "";
}

class ImageFiles final : public Files {
 public:
  ImageFiles(std::shared_ptr<const MachinePlist> plist, std::shared_ptr<const ImageRoot> root)
      : plist_(std::move(plist)), root_(std::move(root)) {}

  std::optional<PlistValue> readPlistFile(std::string_view path) override {
    // Memory running out on a large file is that file's failure, not the caller's exception.
    try {
      auto bytes = readWhole(*root_, path);
      if (!bytes) return std::nullopt;
      return readPlist(*bytes);
    } catch (const std::bad_alloc&) {
      return std::nullopt;
    }
  }

  // The file is removed and created through its folder's descriptor: the folder found is the
  // folder used, whatever is renamed or linked in meanwhile.
  UniqueFd createExclusive(std::string_view path) override {
    auto parent = root_->parentOf(path);
    if (!parent) return UniqueFd();
    ::unlinkat(parent->folder.get(), parent->name.c_str(), 0);
    return UniqueFd(retryAfterSignal([&] {
      return ::openat(parent->folder.get(), parent->name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    }));
  }

  bool remove(std::string_view path) override {
    auto parent = root_->parentOf(path);
    return parent && ::unlinkat(parent->folder.get(), parent->name.c_str(), 0) == 0;
  }

  std::string userName() override { return plist_->userName ? *plist_->userName : hostUserName(); }

 private:
  std::shared_ptr<const MachinePlist> plist_;
  std::shared_ptr<const ImageRoot> root_;
};

}  // namespace

std::unique_ptr<Files> makeImageFiles(std::shared_ptr<const MachinePlist> plist, std::shared_ptr<const ImageRoot> root) {
  return std::make_unique<ImageFiles>(std::move(plist), std::move(root));
}

}  // namespace strandel::platform::image
