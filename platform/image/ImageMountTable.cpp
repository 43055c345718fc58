// The mount table of an image, and statfs answered from it.
#include <optional>
#include <string>
#include <vector>

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

// `path` from the root with its empty and "." components dropped ("/Volumes//X/." and
// "Volumes/X" are "/Volumes/X": the root is an image's working folder); nothing for a path that
// climbs with "..", whose folder only a real walk finds.
std::optional<std::string> plainPath(std::string_view path) {
  if (path.empty() || path.find('\0') != std::string_view::npos) return std::nullopt;
  std::string plain;
  while (!path.empty()) {
    if (path.front() == '/') path.remove_prefix(1);
    std::string_view part = path.substr(0, path.find('/'));
    path.remove_prefix(part.size());
    if (part.empty() || part == ".") continue;
    if (part == "..") return std::nullopt;
    plain += '/';
    plain += part;
  }
  return plain.empty() ? "/" : plain;
}

// The kernel mounts only on a folder that exists, so a mount point of the table, and every
// folder above it, is there whether or not root/ holds it: an image (an imported one with a
// table of thousands of mounts) need not make a folder for each. The path as the machine names
// it, or nothing when no mount point lies at or below it.
std::optional<std::string> mountedFolder(std::string_view path, const std::vector<machineimage::MountRecord>& mounts) {
  auto plain = plainPath(path);
  if (!plain) return std::nullopt;
  for (const auto& mount : mounts) {
    auto on = mount.mountedOn.starts_with('/') ? plainPath(mount.mountedOn) : std::nullopt;
    if (on && holds(*plain, *on)) return plain;
  }
  return std::nullopt;
}

class ImageMountTable final : public MountTable {
 public:
  ImageMountTable(std::shared_ptr<const machineimage::MachinePlist> plist, std::shared_ptr<const ImageRoot> root)
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
    std::optional<std::string> imagePath;
    if (auto found = root_->locate(path)) {
      imagePath = std::move(found->imagePath);
    } else {
      imagePath = mountedFolder(path, plist_->mounts);
    }
    if (!imagePath) return std::nullopt;
    const machineimage::MountRecord* best = nullptr;
    std::size_t bestLength = 0;
    for (const auto& mount : plist_->mounts) {
      if (!holds(mount.mountedOn, *imagePath)) continue;
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

std::unique_ptr<MountTable> makeImageMountTable(std::shared_ptr<const machineimage::MachinePlist> plist, std::shared_ptr<const ImageRoot> root) {
  return std::make_unique<ImageMountTable>(std::move(plist), std::move(root));
}

}  // namespace strandel::platform::image
