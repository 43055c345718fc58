// The mount table of an image, and statfs answered from it.
#include "platform/image/ImageServices.hpp"
#include "platform/image/RootPaths.hpp"

namespace strandel::platform::image {
namespace {

// Whether the mount point `on` holds `path`: it is "/" or a whole-component prefix of it, so
// "/Volumes/Data" holds "/Volumes/Data/x" but not "/Volumes/DataX". A mount point written
// with a trailing slash means the same folder.
bool holds(std::string_view on, std::string_view path) {
  while (on.size() > 1 && on.back() == '/') on.remove_suffix(1);
  if (on.empty() || on.front() != '/') return false;
  if (on == "/") return true;
  if (path.substr(0, on.size()) != on) return false;
  return path.size() == on.size() || path[on.size()] == '/';
}

class ImageMountTable final : public MountTable {
 public:
  ImageMountTable(std::shared_ptr<const machineimage::MachinePlist> plist,
                  std::shared_ptr<const ImageRoot> root)
      : plist_(std::move(plist)), root_(std::move(root)) {}

  bool scan(const std::function<bool(const MountEntryView&)>& visit) override {
    for (const auto& mount : plist_->mounts) {
      if (visit(MountEntryView{mount.mountedOn, mount.mountedFrom, mount.type})) break;
    }
    return true;
  }

  std::optional<FsFigures> statfs(std::string_view path) override {
    // The file system that holds a file is found from where the file really is, so the path
    // is matched with its links resolved, as the kernel's statfs does.
    auto found = root_->locate(path);
    if (!found) return std::nullopt;
    const machineimage::MountRecord* best = nullptr;
    std::size_t bestLength = 0;
    for (const auto& mount : plist_->mounts) {
      if (!holds(mount.mountedOn, found->imagePath)) continue;
      // A later mount on the same folder covers the earlier one, hence ">=".
      std::size_t length = mount.mountedOn.find_last_not_of('/') + 1;
      if (!best || length >= bestLength) {
        best = &mount;
        bestLength = length;
      }
    }
    if (!best) return std::nullopt;
    return best->figures;
  }

 private:
  std::shared_ptr<const machineimage::MachinePlist> plist_;
  std::shared_ptr<const ImageRoot> root_;
};

}  // namespace

std::unique_ptr<MountTable> makeImageMountTable(
    std::shared_ptr<const machineimage::MachinePlist> plist,
    std::shared_ptr<const ImageRoot> root) {
  return std::make_unique<ImageMountTable>(std::move(plist), std::move(root));
}

}  // namespace strandel::platform::image
