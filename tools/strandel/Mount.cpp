// strandel mount from MOUNTPOINT · strandel mount on [DEVICE]: the mount-table lookups.
#include <memory>

#include <strandel/Strandel.hpp>

#include "tools/strandel/Command.hpp"

namespace strandel::tool {

void addMountCommand(CLI::App& app, Context& context) {
  auto* mount = app.add_subcommand("mount", "translate between mount points and devices through the mount table");
  mount->require_subcommand(1);

  auto* from = mount->add_subcommand("from", "the name the file system mounted on MOUNTPOINT is mounted from (\"\" if none)");
  auto mountPoint = std::make_shared<std::string>();
  from->add_option("MOUNTPOINT", *mountPoint, "a mount point, exactly as the table has it (\"/\", \"/Volumes/Data\")")->required();
  from->callback([&context, mountPoint] {
    context.run = [&context, mountPoint] { return printAnswer(context, PlistValue(getVolumeMountFromName(*mountPoint))); };
  });

  auto* on = mount->add_subcommand("on", "where DEVICE is mounted (\"\" if nowhere)");
  auto device = std::make_shared<std::string>();
  auto* deviceOption = on->add_option("DEVICE", *device, "a BSD name (disk1s1) or device path (/dev/disk1s1); left out: absent");
  on->callback([&context, device, deviceOption] {
    // Left out and given as "" are different questions: absent answers "" at once, while ""
    // stands for the device path "/dev/" and finds the first disk mount.
    std::optional<std::string> argument;
    if (deviceOption->count() > 0) argument = *device;
    context.run = [&context, argument] { return printAnswer(context, PlistValue(getVolumeMountOnName(argument))); };
  });
}

}  // namespace strandel::tool
