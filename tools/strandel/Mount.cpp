// strandel mount from MOUNTPOINT · strandel mount on [DEVICE]: the mount-table lookups.
#include <memory>

#include <strandel/Strandel.hpp>

#include "tools/strandel/Command.hpp"
#include "tools/strandel/Found.hpp"

namespace strandel::tool {

void addMountCommand(CommandBuilder& tool, Context& context) {
  CommandBuilder mount = tool.subcommand(
      "mount", "translate between mount points and devices through the mount table");
  mount.requireSubcommand();

  CommandBuilder from = mount.subcommand(
      "from", "the name the file system mounted on MOUNTPOINT is mounted from (\"\" if none)");
  auto mountPoint = std::make_shared<std::string>();
  from.argument("MOUNTPOINT", *mountPoint,
                "a mount point, exactly as the table has it (\"/\", \"/Volumes/Data\")");
  from.onChosen([&context, mountPoint] {
    context.run = [&context, mountPoint] {
      std::string from = getVolumeMountFromName(*mountPoint);
      bool exists = !from.empty() || mountPointExists(*mountPoint);
      return printAnswerAbout(context, PlistValue(std::move(from)), exists,
                              "no mount on '" + *mountPoint + "'");
    };
  });

  CommandBuilder on = mount.subcommand("on", "where DEVICE is mounted (\"\" if nowhere)");
  auto device = std::make_shared<std::string>();
  Presence given = on.optionalArgument(
      "DEVICE", *device, "a BSD name (disk1s1) or device path (/dev/disk1s1); left out: absent");
  on.onChosen([&context, device, given] {
    // Left out and given as "" are different questions: absent answers "" at once, while ""
    // stands for the device path "/dev/" and finds the first disk mount.
    std::optional<std::string> argument;
    if (given.given()) argument = *device;
    context.run = [&context, argument] {
      std::string on = getVolumeMountOnName(argument);
      // A device that is there but not mounted answers "" and is no error.
      bool exists = !argument || !on.empty() || deviceExists(context, *argument);
      return printAnswerAbout(context, PlistValue(std::move(on)), exists,
                              "no device '" + argument.value_or("") + "'");
    };
  });
}

}  // namespace strandel::tool
