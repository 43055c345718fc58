// Files of an image: every platform path is looked up under the image's root folder.
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <new>
#include <vector>

#include "base/FileBytes.hpp"
#include "platform/image/ImageServices.hpp"
#include "platform/image/RootPaths.hpp"
#include "platform/posix/LiveServices.hpp"

namespace strandel::platform::image {
namespace {

// The property lists we read are small; this only stops a stray huge file from being slurped.
constexpr off_t kMaxPlistFileSize = off_t{64} << 20;

// The open is non-blocking, so that a FIFO planted in an image is refused rather than waited on.
std::optional<std::string> readWhole(const ImageRoot& root, std::string_view path) {
  UniqueFd fd = root.openFile(path, O_RDONLY | O_NONBLOCK);
  if (!fd) return std::nullopt;
  base::FileBytes file = base::readOpenFile(fd.get(), static_cast<std::size_t>(kMaxPlistFileSize));
  if (!file) return std::nullopt;
  return std::move(file.bytes);
}

class ImageFiles final : public Files {
 public:
  ImageFiles(std::shared_ptr<const machineimage::MachinePlist> plist,
             std::shared_ptr<const ImageRoot> root)
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
    return UniqueFd(base::retryAfterSignal([&] {
      return ::openat(parent->folder.get(), parent->name.c_str(),
                      O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    }));
  }

  bool remove(std::string_view path) override {
    auto parent = root_->parentOf(path);
    return parent && ::unlinkat(parent->folder.get(), parent->name.c_str(), 0) == 0;
  }

  std::string userName() override {
    return plist_->userName ? *plist_->userName : live::hostUserName();
  }

 private:
  std::shared_ptr<const machineimage::MachinePlist> plist_;
  std::shared_ptr<const ImageRoot> root_;
};

}  // namespace

std::unique_ptr<Files> makeImageFiles(std::shared_ptr<const machineimage::MachinePlist> plist,
                                      std::shared_ptr<const ImageRoot> root) {
  return std::make_unique<ImageFiles>(std::move(plist), std::move(root));
}

}  // namespace strandel::platform::image
