#include "platform/linux/LiveDisks.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "apfsdisk/ByteSource.hpp"
#include "base/Utf8.hpp"
#include "machineimage/MachinePlist.hpp"
#include "machineimage/NodeRegistry.hpp"
#include "machineimage/Writer.hpp"
#include "platform/linux/MacView.hpp"

namespace strandel::platform::live {

struct DiskSnapshot {
  std::shared_ptr<Registry> registry;
  std::vector<DeviceName> names;
  std::string listing;  // the APFS listing as an XML property list
};

class DiskView {
 public:
  DiskView(DiskSource source, std::shared_ptr<MountTable> hostMounts)
      : source_(std::move(source)), hostMounts_(std::move(hostMounts)) {}

  const DiskSnapshot& snapshot() {
    std::call_once(once_, [this] { snapshot_ = take(); });
    return snapshot_;
  }

  // The Mac name of a Linux device path, by its node or by the device it names.
  std::optional<std::string> bsdNameOf(std::string_view source) {
    if (!source.starts_with("/dev/")) return std::nullopt;
    const auto& names = snapshot().names;
    for (const DeviceName& name : names)
      if (name.devNode == source) return name.bsdName;
    struct stat info;
    std::string path(source);
    if (path.find('\0') != std::string::npos || ::stat(path.c_str(), &info) != 0 ||
        !S_ISBLK(info.st_mode))
      return std::nullopt;
    for (const DeviceName& name : names)
      if (name.devno != 0 && name.devno == info.st_rdev) return name.bsdName;
    return std::nullopt;
  }

 private:
  std::vector<DiskInput> inputs() const {
    std::vector<DiskInput> disks;
    if (source_.imageFile) {
      DiskInput input;
      input.disk.name = input.disk.devNode = *source_.imageFile;
      auto bytes = apfsdisk::openFileSource(*source_.imageFile);
      input.disk.size = bytes ? bytes->size() : 0;
      input.disk.readOnly = true;  // never written, whatever its permissions
      input.disk.protocol = "Virtual Interface";
      input.disk.internal = false;
      input.probed = probeDisk(*source_.imageFile);
      disks.push_back(std::move(input));
      return disks;
    }
    for (SysfsDisk& disk : sysfsDisks(source_.sysBlock)) {
      DiskInput input;
      input.probed = probeDisk(disk.devNode);
      if (input.probed) {
        // Partition nodes follow the kernel's rule: a disk whose name ends in a digit puts "p"
        // before the number (nvme0n1p2, loop0p1), others don't (sda2).
        const bool digit =
            !disk.name.empty() && std::isdigit(static_cast<unsigned char>(disk.name.back()));
        for (const ProbedPartition& p : input.probed->partitions) {
          std::string name = disk.name + (digit ? "p" : "") + std::to_string(p.number);
          input.partitions[p.number] = {"/dev/" + name,
                                        sysfsPartitionDevno(source_.sysBlock, disk.name, p.number)};
        }
      }
      input.disk = std::move(disk);
      disks.push_back(std::move(input));
    }
    return disks;
  }

  // Where each block device is first mounted, by device number.
  std::unordered_map<dev_t, std::string> mountPoints() const {
    std::unordered_map<dev_t, std::string> points;
    if (!hostMounts_) return points;
    hostMounts_->scan([&](const MountEntryView& entry) {
      if (!entry.mountedFrom.starts_with("/dev/")) return false;
      std::string from(entry.mountedFrom);
      struct stat info;
      if (::stat(from.c_str(), &info) == 0 && S_ISBLK(info.st_mode) &&
          base::isValidUtf8(entry.mountedOn))
        points.try_emplace(info.st_rdev, std::string(entry.mountedOn));
      return false;
    });
    return points;
  }

  DiskSnapshot take() const {
    DiskSnapshot snapshot;
    auto points = mountPoints();
    MacView view = buildMacView(inputs(), [&](dev_t devno) -> std::optional<std::string> {
      auto found = points.find(devno);
      if (found == points.end()) return std::nullopt;
      return found->second;
    });
    // The tree goes through the image checks, so the live registry answers exactly as an image
    // of the same disks would; a tree they refuse (a fault of ours) leaves the registry empty.
    auto checked =
        machineimage::checkMachinePlist(machineimage::machinePlist(std::move(view.registry), {}));
    if (!checked.plist)
      checked = machineimage::checkMachinePlist(machineimage::machinePlist({}, {}));
    snapshot.registry = machineimage::makeNodeRegistry(std::move(checked.plist));
    snapshot.names = std::move(view.names);
    snapshot.listing = writeXmlPlist(PlistValue(std::move(view.apfsListing)));
    return snapshot;
  }

  DiskSource source_;
  std::shared_ptr<MountTable> hostMounts_;
  std::once_flag once_;
  DiskSnapshot snapshot_;
};

namespace {

class DiskRegistry final : public Registry {
 public:
  explicit DiskRegistry(std::shared_ptr<DiskView> view) : view_(std::move(view)) {}
  std::vector<RegistryObject> mediaObjects() override { return inner().mediaObjects(); }
  std::optional<RegistryObject> mediaObjectForBSDName(std::string_view bsdName) override {
    return inner().mediaObjectForBSDName(bsdName);
  }
  std::vector<RegistryObject> descendants(RegistryObject object) override {
    return inner().descendants(object);
  }
  std::string className(RegistryObject object) override { return inner().className(object); }
  std::optional<PlistValue> searchProperty(RegistryObject object, std::string_view name) override {
    return inner().searchProperty(object, name);
  }
  std::shared_ptr<const PlistDict> description(RegistryObject object) override {
    return inner().description(object);
  }
  std::shared_ptr<const PlistDict> descriptionForBSDName(std::string_view bsdName) override {
    return inner().descriptionForBSDName(bsdName);
  }
  std::optional<PlistArray> tree() override { return inner().tree(); }

 private:
  Registry& inner() { return *view_->snapshot().registry; }
  std::shared_ptr<DiskView> view_;
};

class NamedMountTable final : public MountTable {
 public:
  NamedMountTable(std::shared_ptr<DiskView> view, std::shared_ptr<MountTable> host)
      : view_(std::move(view)), host_(std::move(host)) {}

  bool scan(const std::function<bool(const MountEntryView&)>& visit) override {
    return host_->scan([&](const MountEntryView& entry) {
      auto name = view_->bsdNameOf(entry.mountedFrom);
      if (!name) return visit(entry);
      std::string renamed = "/dev/" + *name;
      return visit(MountEntryView{entry.mountedOn, renamed, entry.type});
    });
  }

  std::optional<FsFigures> statfs(std::string_view path) override { return host_->statfs(path); }

 private:
  std::shared_ptr<DiskView> view_;
  std::shared_ptr<MountTable> host_;
};

bool executable(std::string_view path) {
  std::string text(path);
  return text.find('\0') == std::string::npos && ::access(text.c_str(), X_OK) == 0;
}

class DiskProcesses final : public Processes {
 public:
  DiskProcesses(std::shared_ptr<DiskView> view, std::unique_ptr<Processes> host,
                std::shared_ptr<Log> log)
      : view_(std::move(view)), host_(std::move(host)), log_(std::move(log)) {}

  std::optional<ToolOutput> runTool(const ToolRunOptions& options) override {
    if (isApfsList(options) && !executable(options.tool))
      return ToolOutput{view_->snapshot().listing};
    return host_->runTool(options);
  }

  bool runToolToFile(const ToolRunOptions& options, int output) override {
    return host_->runToolToFile(options, output);
  }

  std::unique_ptr<ShellStream> openShell(std::string_view tool,
                                         std::string_view argumentText) override {
    // The shell would say "/bin/sh: 1: ...: not found" in its own words; the caller's failure
    // result is the same either way, so the one line is ours.
    if (!executable(tool)) {
      if (log_) log_->write(std::string(tool) + ": no such tool on this host");
      return nullptr;
    }
    return host_->openShell(tool, argumentText);
  }

 private:
  static bool isApfsList(const ToolRunOptions& options) {
    return options.tool == "/usr/sbin/diskutil" &&
           options.arguments == std::vector<std::string>{"apfs", "list", "-plist"};
  }

  std::shared_ptr<DiskView> view_;
  std::unique_ptr<Processes> host_;
  std::shared_ptr<Log> log_;
};

}  // namespace

std::shared_ptr<DiskView> makeDiskView(DiskSource source, std::shared_ptr<MountTable> hostMounts) {
  return std::make_shared<DiskView>(std::move(source), std::move(hostMounts));
}

std::unique_ptr<Registry> makeDiskRegistry(std::shared_ptr<DiskView> view) {
  return std::make_unique<DiskRegistry>(std::move(view));
}

std::unique_ptr<MountTable> makeNamedMountTable(std::shared_ptr<DiskView> view,
                                                std::shared_ptr<MountTable> hostMounts) {
  return std::make_unique<NamedMountTable>(std::move(view), std::move(hostMounts));
}

std::unique_ptr<Processes> makeDiskProcesses(std::shared_ptr<DiskView> view,
                                             std::unique_ptr<Processes> host,
                                             std::shared_ptr<Log> log) {
  return std::make_unique<DiskProcesses>(std::move(view), std::move(host), std::move(log));
}

std::optional<std::string> diskImageProblem(const std::string& path) {
  if (apfsdisk::openFileSource(path)) return std::nullopt;
  struct stat info;
  if (::stat(path.c_str(), &info) != 0) return path + ": " + std::strerror(errno);
  if (!S_ISREG(info.st_mode) && !S_ISBLK(info.st_mode))
    return path + ": not a disk image file or block device";
  return path + ": can't be opened for reading";
}

}  // namespace strandel::platform::live
