// The live host's disks seen as a Mac's: the registry, the mount table that speaks the same
// names, and the disk utility's APFS listing answered from the disks themselves. The disks are
// read once, at the first question that needs them, and the answers stay those of that moment
// for the machine's life (a new machine reads them again).
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/Machine.hpp"

namespace strandel::platform::live {

class DiskView;

/// Where the disks come from: the host's block devices (sysfs, libblkid), or one disk image
/// file standing in for them.
struct DiskSource {
  std::optional<std::string> imageFile;  // nothing: the host's disks
  std::string sysBlock = "/sys/block";
};

/// The shared view of the disks; `hostMounts` is the kernel's mount table, which tells where
/// the disks' volumes are mounted.
std::shared_ptr<DiskView> makeDiskView(DiskSource source, std::shared_ptr<MountTable> hostMounts);

/// The registry of the view.
std::unique_ptr<Registry> makeDiskRegistry(std::shared_ptr<DiskView> view);

/// The host's mount table with each device it knows given its Mac name (/dev/sdb3 reads
/// /dev/disk2s3); other sources (tmpfs, overlay, FUSE) are left as they are.
std::unique_ptr<MountTable> makeNamedMountTable(std::shared_ptr<DiskView> view,
                                                std::shared_ptr<MountTable> hostMounts);

/// The host's processes, except that the disk utility's `apfs list -plist`, when the host has
/// no such tool, is answered from the view, and a tool the host lacks started through the shell
/// is refused with one line to `log` instead of the shell's own error.
std::unique_ptr<Processes> makeDiskProcesses(std::shared_ptr<DiskView> view,
                                             std::unique_ptr<Processes> host,
                                             std::shared_ptr<Log> log);

/// Whether `path` can be read as a disk: a regular file or block device that opens; the line
/// saying why not otherwise.
std::optional<std::string> diskImageProblem(const std::string& path);

}  // namespace strandel::platform::live
