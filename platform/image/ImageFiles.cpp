// Files of an image: every platform path is looked up under the image's root folder.
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "platform/image/ImageServices.hpp"
#include "platform/image/RootPaths.hpp"

namespace strandel::platform::image {
namespace {

// The property lists we read are small; this only stops a stray huge file from being slurped.
constexpr off_t kMaxPlistFileSize = off_t{64} << 20;

// Non-blocking open, so that a FIFO planted in an image is refused rather than waited on.
std::optional<std::string> readWhole(const std::string& path) {
  UniqueFd fd(retryAfterSignal([&] { return ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC); }));
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
  ImageFiles(std::shared_ptr<const MachinePlist> plist, std::string root)
      : plist_(std::move(plist)), root_(std::move(root)) {}

  std::optional<PlistValue> readPlistFile(std::string_view path) override {
    auto found = resolveInRoot(root_, path, LastLink::Follow);
    if (!found) return std::nullopt;
    auto bytes = readWhole(found->hostPath);
    if (!bytes) return std::nullopt;
    return readPlist(*bytes);
  }

  UniqueFd createExclusive(std::string_view path) override {
    auto found = resolveInRoot(root_, path, LastLink::Keep);
    if (!found) return UniqueFd();
    ::unlink(found->hostPath.c_str());
    return UniqueFd(retryAfterSignal([&] {
      return ::open(found->hostPath.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    }));
  }

  bool remove(std::string_view path) override {
    auto found = resolveInRoot(root_, path, LastLink::Keep);
    return found && ::unlink(found->hostPath.c_str()) == 0;
  }

  std::string userName() override { return plist_->userName ? *plist_->userName : hostUserName(); }

 private:
  std::shared_ptr<const MachinePlist> plist_;
  std::string root_;
};

}  // namespace

std::unique_ptr<Files> makeImageFiles(std::shared_ptr<const MachinePlist> plist, std::string root) {
  return std::make_unique<ImageFiles>(std::move(plist), std::move(root));
}

}  // namespace strandel::platform::image
