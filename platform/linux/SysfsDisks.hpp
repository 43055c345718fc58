// The host's block devices as the kernel lists them in sysfs: whole disks with their size,
// transport and flags, and the device numbers of their partitions.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace strandel::platform::live {

struct SysfsDisk {
  std::string name;     // the kernel's name: sda, nvme0n1, loop3
  std::string devNode;  // /dev/sda
  dev_t devno = 0;
  std::uint64_t size = 0;  // bytes
  bool removable = false;
  bool readOnly = false;
  std::string protocol;  // as the Mac names the transport: "USB", "SATA", "PCI-Express", ...
  bool internal = true;
  std::string model;
};

/// The whole disks under `sysBlock` (normally /sys/block) that hold something, in the order
/// that gives them their Mac numbers: NVMe, then SCSI/SATA/virtio disks, then memory cards, then
/// any other kind, loop devices last; by name within a kind, digit runs by value (loop2 before
/// loop10). RAM disks, compressed swap (zram) and empty devices are left out.
std::vector<SysfsDisk> sysfsDisks(const std::string& sysBlock = "/sys/block");

/// The device number of a partition of `disk`: the entry of sysfs below the disk whose
/// "partition" file holds `number`; 0 when there is none.
dev_t sysfsPartitionDevno(const std::string& sysBlock, const std::string& disk, int number);

}  // namespace strandel::platform::live
