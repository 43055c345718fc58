#include "tools/strandel/Found.hpp"

#include <sys/stat.h>

#include "platform/Machine.hpp"

namespace strandel::tool {
namespace {

std::string_view bsdNameOf(std::string_view device) {
  if (device.starts_with("/dev/")) device.remove_prefix(5);
  return device;
}

}  // namespace

bool deviceExists(const Context& context, std::string_view device) {
  std::string_view bsd = bsdNameOf(device);
  // Also a guard: "" and "/dev/" name no device, whatever a mount's odd source says.
  if (bsd.empty() || bsd.find('/') != std::string_view::npos) return false;
  auto machine = platform::current();
  if (!machine) return false;
  if (machine->registry().mediaObjectForBSDName(bsd)) return true;
  bool mounted = false;
  machine->mountTable().scan([&](const platform::MountEntryView& entry) {
    mounted = bsdNameOf(entry.mountedFrom) == bsd;
    return mounted;
  });
  if (mounted) return true;
  // A Linux host has no registry yet names its disks in /dev.
  struct stat status {};
  return context.liveHost && ::stat(("/dev/" + std::string(bsd)).c_str(), &status) == 0 &&
         (S_ISBLK(status.st_mode) || S_ISCHR(status.st_mode));
}

bool mountPointExists(std::string_view mountPoint) {
  auto machine = platform::current();
  if (!machine) return false;
  bool found = false;
  machine->mountTable().scan([&](const platform::MountEntryView& entry) {
    found = entry.mountedOn == mountPoint;
    return found;
  });
  return found;
}

bool pathExists(std::string_view path) {
  auto machine = platform::current();
  return machine && !path.empty() && machine->mountTable().statfs(path).has_value();
}

int printAnswerAbout(const Context& context, const std::optional<PlistValue>& answer, bool exists,
                     const std::string& missing,
                     const std::function<std::string(const PlistValue&)>& text,
                     const std::function<std::string(const PlistValue&)>& json) {
  if (exists) return printAnswer(context, answer, text, json);
  if (context.format != Format::Text) printAnswer(context, answer, text, json);
  sayError(missing);
  return 1;
}

}  // namespace strandel::tool
