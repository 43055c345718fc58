#include "tests/framework/CatalogueImages.hpp"

namespace strandel::testing {

std::string timeMachinePreferences(const std::string& imageName) {
  return writeXmlPlist(PlistDict{{"AutoBackup", PlistValue(true)},
                                 {"LocalizedDiskImageVolumeName", PlistValue(imageName)},
                                 {"RequiresACPower", PlistValue(false)}});
}

ImageBuilder catalinaMac() {
  Entry disk0 = wholeDisk("disk0", 500277790720, "PCI-Express", true);
  Entry efi = partition("disk0s1", kEfiContent, 209715200);
  efi.description->emplace("DAVolumeName", "EFI");
  efi.description->emplace("DAVolumeKind", "msdos");
  efi.description->emplace("DAVolumeType", "MS-DOS (FAT32)");
  disk0.child(efi);
  Entry& store = disk0.child(partition("disk0s2", kApfsPartitionContent, 499963174912));
  Entry& container = store.child(apfsContainerDisk("disk1", 499963174912));
  Entry& disk1 = container.children[0];
  Entry& system = disk1.child(volume({.bsd = "disk1s1", .name = "Macintosh HD", .mountPath = "/", .type = "APFS",
                                      .protocol = "PCI-Express", .size = 499963174912, .role = "System"}));
  Entry snapshot = volume({.bsd = "disk1s1s1", .name = "com.apple.os.update-1", .protocol = "PCI-Express"});
  snapshot.className = "AppleAPFSSnapshot";
  system.child(snapshot);
  disk1.child(volume({.bsd = "disk1s2", .name = "Macintosh HD - Data", .mountPath = "/System/Volumes/Data",
                      .type = "APFS (Encrypted)", .protocol = "PCI-Express", .size = 499963174912, .role = "Data"}));
  disk1.child(volume({.bsd = "disk1s3", .name = "Preboot", .protocol = "PCI-Express", .role = "Preboot"}));
  disk1.child(volume({.bsd = "disk1s4", .name = "Recovery", .protocol = "PCI-Express", .role = "Recovery"}));
  disk1.child(volume({.bsd = "disk1s5", .name = "VM", .mountPath = "/private/var/vm", .protocol = "PCI-Express",
                      .role = "VM"}));
  disk1.child(volume({.bsd = "disk1s6", .name = "", .protocol = "PCI-Express"}));

  Entry disk2 = wholeDisk("disk2", 2000398934016, "USB", false);
  Entry& backupStore = disk2.child(partition("disk2s2", kApfsPartitionContent, 2000189177856));
  Entry& backupContainer = backupStore.child(apfsContainerDisk("disk3", 2000189177856));
  backupContainer.children[0].child(volume({.bsd = "disk3s1", .name = "Time Machine",
                                            .mountPath = "/Volumes/Time Machine", .type = "APFS",
                                            .protocol = "USB", .internal = false, .size = 2000189177856,
                                            .role = "Backup"}));
  ImageBuilder image;
  image.add(std::move(disk0)).add(std::move(disk2));
  image.mount({.on = "/", .from = "/dev/disk1s1", .type = "apfs"});
  image.mount({.on = "/System/Volumes/Data", .from = "/dev/disk1s2", .type = "apfs"});
  image.mount({.on = "/private/var/vm", .from = "/dev/disk1s5", .type = "apfs"});
  image.mount({.on = "/Volumes/Time Machine", .from = "/dev/disk3s1", .type = "apfs"});
  return image;
}

}  // namespace strandel::testing
