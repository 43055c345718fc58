// Builds small machine images inside a test from a compact description, instead of a
// hand-written machine.plist per case.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <strandel/PlistValue.hpp>

#include "platform/Machine.hpp"

#include "tests/support/TempDir.hpp"

namespace strandel::testing {

/// One registry entry and the entries below it.
struct Entry {
  std::string className = "IOMedia";
  PlistDict properties;                  // registry properties ("BSD Name", "Role", ...)
  std::optional<PlistDict> description;  // the disk description; absent: no disk object
  std::optional<bool> ioMedia;           // absent: true exactly when there is a description
  std::vector<Entry> children;

  Entry& child(Entry entry) {
    children.push_back(std::move(entry));
    return children.back();
  }
};

/// A volume's description in a few words. `mountPath` "" means not mounted.
struct VolumeOutline {
  // Every member has an initializer, so designated initializers may leave any of them out.
  std::string bsd{};
  std::string name{};
  std::string kind = "apfs";
  std::string mountPath{};
  std::string type{};     // DAVolumeType; "" leaves it out
  std::string content{};  // DAMediaContent; "" leaves it out
  std::string protocol = "Apple Fabric";
  bool internal = true;
  std::uint64_t size = 500107862016;
  std::string role{};  // registry "Role" (first entry); "" leaves it out
};

/// A volume in a few words; the outline's other fields keep their defaults.
inline VolumeOutline volumeOutline(std::string bsd, std::string name, std::string mountPath = "", std::string role = "",
                                   std::string kind = "apfs") {
  VolumeOutline outline;
  outline.bsd = std::move(bsd);
  outline.name = std::move(name);
  outline.mountPath = std::move(mountPath);
  outline.role = std::move(role);
  outline.kind = std::move(kind);
  return outline;
}

/// The APFS volume content GUID, and helpers for the usual entries.
inline constexpr const char* kApfsContent = "41504653-0000-11AA-AA11-00306543ECAC";
Entry wholeDisk(const std::string& bsd, std::uint64_t size, const std::string& protocol = "Apple Fabric",
                bool internal = true);
Entry partition(const std::string& bsd, const std::string& content, std::uint64_t size);
/// An APFS container entry (class AppleAPFSContainer, not media) with its media disk below.
Entry apfsContainerDisk(const std::string& bsd, std::uint64_t size);
/// A volume entry: class AppleAPFSVolume for kind "apfs", else IOMedia.
Entry volume(const VolumeOutline& outline);
/// The percent-encoded mount URL of a mount path ("/Volumes/A B" gives "file:///Volumes/A%20B/").
std::string mountUrl(const std::string& mountPath);

struct MountOutline {
  std::string on, from, type;
  std::uint32_t blockSize = 4096;
  std::uint64_t blocks = 122070313, freeBlocks = 61035156;
};

class ImageBuilder {
 public:
  ImageBuilder& add(Entry root);
  ImageBuilder& mount(MountOutline mount);
  /// A file under the image's root/ (`path` is the Mac path, "/Library/...").
  ImageBuilder& file(const std::string& path, const std::string& contents, unsigned mode = 0644);
  /// An executable shell script under root/ (for tools: "/usr/sbin/diskutil").
  ImageBuilder& tool(const std::string& path, const std::string& script);
  ImageBuilder& userName(const std::string& name);

  /// The machine.plist value.
  PlistValue machinePlist() const;
  /// Writes the image into `dir` (machine.plist, root/ with its files and mount points).
  void write(const std::filesystem::path& dir) const;

 private:
  std::vector<Entry> roots_;
  std::vector<MountOutline> mounts_;
  std::vector<std::pair<std::string, std::pair<std::string, unsigned>>> files_;
  std::optional<std::string> userName_;
};

/// Writes the image to a fresh folder and makes it the machine of the process until the value
/// goes; then the machine in use before comes back. Fails the test when the image is refused.
class ScopedMachine {
 public:
  explicit ScopedMachine(const ImageBuilder& image);
  ~ScopedMachine();
  ScopedMachine(const ScopedMachine&) = delete;
  ScopedMachine& operator=(const ScopedMachine&) = delete;
  const std::filesystem::path& dir() const { return dir_.path(); }

 private:
  TempDir dir_;
  std::shared_ptr<platform::Machine> previous_;
};

}  // namespace strandel::testing
