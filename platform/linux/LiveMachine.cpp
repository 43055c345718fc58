#include "platform/linux/LiveMachine.hpp"

#include "platform/app/AppServices.hpp"
#include "platform/linux/LiveDisks.hpp"
#include "platform/linux/LiveMountTable.hpp"
#include "platform/posix/LiveServices.hpp"
#include "platform/posix/Processes.hpp"

namespace strandel::platform::live {
namespace {

// Linux has no I/O registry and no disk arbitration: the disks are read from sysfs, libblkid
// and their own structures, and shown in the Mac's shape and names (LiveDisks.hpp).
std::shared_ptr<Machine> makeMachineOf(DiskSource source) {
  std::shared_ptr<MountTable> hostMounts = makeLiveMountTable();
  std::shared_ptr<Log> log = makeStderrLog();
  auto view = makeDiskView(std::move(source), hostMounts);
  return std::make_shared<Machine>(
      MachineServices{makeDiskRegistry(view), makeNamedMountTable(view, hostMounts),
                      makeDiskProcesses(view, makeHostProcesses(), log), makeLiveFiles(),
                      makeLiveSettings(), makeBundleLocalizer(), log});
}

}  // namespace

std::shared_ptr<Machine> makeLiveMachine() { return makeMachineOf(DiskSource{}); }

std::shared_ptr<Machine> makeDiskImageMachine(const std::string& path) {
  return makeMachineOf(DiskSource{path});
}

}  // namespace strandel::platform::live
