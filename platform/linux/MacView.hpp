// The host's disks as a Mac would show them: the registry tree in the machine image's form
// (whole disk, partition scheme, partitions, synthesized APFS container disks with their
// container and volumes), the Mac name of every Linux device, and the disk utility's APFS
// listing of the same containers.
//
// Names: the disks are disk0, disk1, ... in the order given; partition M of diskN is diskNsM;
// each APFS container gets the next number after the last disk, in the order met, and its
// volumes diskKs1, diskKs2, ... in the container's own order. Every media object carries its
// Linux node as the registry property "LinuxDevice" (a container and its volumes the node of
// the partition that holds them).
#pragma once

#include <sys/types.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <strandel/PlistValue.hpp>

#include "platform/linux/DiskProbe.hpp"
#include "platform/linux/SysfsDisks.hpp"

namespace strandel::platform::live {

struct PartitionNode {
  std::string devNode;  // /dev/sda2; "" for a partition inside a disk image file
  dev_t devno = 0;
};

struct DiskInput {
  SysfsDisk disk;
  std::optional<ProbedDisk> probed;         // nothing when the disk could not be read
  std::map<int, PartitionNode> partitions;  // by partition number
};

/// A Linux device and its Mac name.
struct DeviceName {
  std::string devNode;
  dev_t devno = 0;
  std::string bsdName;  // disk2s3
};

struct MacView {
  PlistArray registry;
  std::vector<DeviceName> names;
  PlistDict apfsListing;  // the top level of `diskutil apfs list -plist`
};

/// Where the device `devno` is mounted (the first mount of it in the table); nothing if it isn't.
using MountPointOf = std::function<std::optional<std::string>(dev_t devno)>;

/// Builds the view of `disks` in order.
MacView buildMacView(const std::vector<DiskInput>& disks, const MountPointOf& mountPointOf);

/// The Mac's name for a file-system type of libblkid ("vfat" is "msdos", "hfsplus" is "hfs");
/// other types keep their Linux name.
std::string volumeKindOf(const std::string& blkidType);

}  // namespace strandel::platform::live
