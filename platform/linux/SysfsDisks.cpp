#include "platform/linux/SysfsDisks.hpp"

#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "base/FileBytes.hpp"
#include "base/Utf8.hpp"
#include "text/NumericCompare.hpp"

namespace strandel::platform::live {
namespace {

// One attribute file's text without its line feed; "" when it can't be read. Attribute files
// are a page at most.
std::string attribute(const std::filesystem::path& file) {
  auto read = base::readFileBytes(file.string(), 4096);
  std::string text = read ? std::move(read.bytes) : std::string();
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

dev_t devnoOf(const std::string& text) {
  unsigned major = 0, minor = 0;
  if (std::sscanf(text.c_str(), "%u:%u", &major, &minor) != 2) return 0;
  return makedev(major, minor);
}

// The transport, read from the path of the device in the kernel's device tree.
void setTransport(SysfsDisk& disk, const std::filesystem::path& entry) {
  std::error_code error;
  std::string path = std::filesystem::read_symlink(entry, error).string();
  if (disk.name.starts_with("loop")) {
    disk.protocol = "Virtual Interface";  // a disk image, as the Mac shows an attached image
    disk.internal = false;
  } else if (path.find("/usb") != std::string::npos) {
    disk.protocol = "USB";
    disk.internal = false;
  } else if (disk.name.starts_with("nvme")) {
    disk.protocol = "PCI-Express";
  } else if (path.find("/virtio") != std::string::npos) {
    disk.protocol = "Virtual Interface";
  } else if (path.find("/ata") != std::string::npos) {
    disk.protocol = "SATA";
  } else if (disk.name.starts_with("mmcblk")) {
    disk.protocol = "Secure Digital";
  } else {
    disk.protocol = "SCSI";
  }
  if (disk.removable) disk.internal = false;
}

int kindRank(const std::string& name) {
  if (name.starts_with("nvme")) return 0;
  if (name.starts_with("sd") || name.starts_with("vd") || name.starts_with("hd") ||
      name.starts_with("xvd"))
    return 1;
  if (name.starts_with("mmcblk")) return 2;
  if (name.starts_with("loop")) return 4;
  return 3;
}

}  // namespace

std::vector<SysfsDisk> sysfsDisks(const std::string& sysBlock) {
  std::vector<SysfsDisk> disks;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(sysBlock, error)) {
    SysfsDisk disk;
    disk.name = entry.path().filename().string();
    if (disk.name.starts_with("ram") || disk.name.starts_with("zram")) continue;
    const std::filesystem::path dir = entry.path();
    // sysfs counts sizes in 512-byte sectors whatever the device's own sector size.
    std::uint64_t sectors = std::strtoull(attribute(dir / "size").c_str(), nullptr, 10);
    if (sectors == 0 || sectors > UINT64_MAX / 512) continue;
    disk.size = sectors * 512;
    disk.devNode = "/dev/" + disk.name;
    disk.devno = devnoOf(attribute(dir / "dev"));
    disk.removable = attribute(dir / "removable") == "1";
    disk.readOnly = attribute(dir / "ro") == "1";
    disk.model = attribute(dir / "device" / "model");
    if (!base::isValidUtf8(disk.model)) disk.model = base::decodeLatin1(disk.model);
    setTransport(disk, dir);
    disks.push_back(std::move(disk));
  }
  std::sort(disks.begin(), disks.end(), [](const SysfsDisk& a, const SysfsDisk& b) {
    int ra = kindRank(a.name), rb = kindRank(b.name);
    return ra != rb ? ra < rb : text::numericCompare(a.name, b.name) < 0;
  });
  return disks;
}

dev_t sysfsPartitionDevno(const std::string& sysBlock, const std::string& disk, int number) {
  std::error_code error;
  for (const auto& entry :
       std::filesystem::directory_iterator(std::filesystem::path(sysBlock) / disk, error)) {
    if (attribute(entry.path() / "partition") == std::to_string(number))
      return devnoOf(attribute(entry.path() / "dev"));
  }
  return 0;
}

}  // namespace strandel::platform::live
