// strandel apfs: the APFS lookups.
#include <memory>
#include <string>

#include <strandel/Strandel.hpp>

#include "tools/strandel/Command.hpp"
#include "tools/strandel/Found.hpp"

namespace strandel::tool {
namespace {

std::optional<PlistValue> optionalText(std::optional<std::string> text) {
  if (!text) return std::nullopt;
  return PlistValue(std::move(*text));
}

std::string noDevice(const std::string& device) { return "no device '" + device + "'"; }

const char* roleName(APFSVolumeRole role) {
  switch (role) {
    case APFSVolumeRoleSystem:
      return "APFSVolumeRoleSystem";
    case APFSVolumeRoleData:
      return "APFSVolumeRoleData";
    case APFSVolumeRolePreboot:
      return "APFSVolumeRolePreboot";
    case APFSVolumeRoleRecovery:
      return "APFSVolumeRoleRecovery";
    case APFSVolumeRoleVM:
      return "APFSVolumeRoleVM";
    case APFSVolumeRoleBackup:
      return "APFSVolumeRoleBackup";
    case APFSVolumeRoleNone:
      break;
  }
  return "APFSVolumeRoleNone";
}

// Adds `apfs NAME ARGUMENT`, whose answer `answer` gives from the argument.
void addLookup(CommandBuilder& apfs, Context& context, const std::string& name,
               const std::string& argumentName, const std::string& argumentHelp,
               const std::string& description,
               std::function<int(const Context&, const std::string&)> answer) {
  auto argument = std::make_shared<std::string>();
  CommandBuilder command = apfs.subcommand(name, description);
  command.argument(argumentName, *argument, argumentHelp);
  command.onChosen([&context, argument, answer = std::move(answer)] {
    context.run = [&context, argument, answer] { return answer(context, *argument); };
  });
}

}  // namespace

void addApfsCommand(CommandBuilder& tool, Context& context) {
  CommandBuilder apfs = tool.subcommand("apfs", "APFS containers, mounts and volume roles");
  apfs.requireSubcommand();

  addLookup(
      apfs, context, "container", "DEVICE",
      "the container's reference (disk3, /dev/disk3) or its physical store (disk0s2, /dev/disk0s2)",
      "the disk utility's APFS listing entry of the container that DEVICE names (null when none, "
      "or "
      "on an OS older than 10.12)",
      [](const Context& c, const std::string& device) {
        auto entry = getAPFSContainer(device);
        bool exists = entry || deviceExists(c, device);
        return printAnswerAbout(c,
                                entry ? std::optional<PlistValue>(std::move(*entry)) : std::nullopt,
                                exists, noDevice(device));
      });
  addLookup(apfs, context, "is-apfs", "MOUNT",
            "a mount point; only its last component is compared (\"/\", \"/Volumes/Data\")",
            "whether the first mount whose mount point ends like MOUNT is APFS: true or false",
            [](const Context& c, const std::string& mount) {
              bool apfs = GetVolumeAPFS(mount);
              return printAnswerAbout(c, PlistValue(apfs), apfs || mountPointExists(mount),
                                      "no mount on '" + mount + "'");
            });

  using RoleLookup = std::optional<std::string> (*)(std::string_view);
  const std::pair<const char*, RoleLookup> roleLookups[] = {
      {"system", getAPFSSystemVolume},
      {"data", getAPFSDataVolume},
      {"preboot", getAPFSPrebootVolume},
      {"recovery", getAPFSRecoveryVolume},
  };
  for (const auto& roleLookup : roleLookups) {
    const char* name = roleLookup.first;
    RoleLookup lookup = roleLookup.second;
    addLookup(
        apfs, context, name, "DEVICE",
        "the container or one of its volumes, a BSD name (disk3s1) or a device path (/dev/disk3s1)",
        std::string("the BSD name of the volume holding the ") + name +
            " role in the APFS container of DEVICE (null when none)",
        [lookup](const Context& c, const std::string& device) {
          std::optional<PlistValue> volume = optionalText(lookup(device));
          return printAnswerAbout(c, volume, volume || deviceExists(c, device), noDevice(device));
        });
  }

  addLookup(
      apfs, context, "role", "BSD",
      "a volume's BSD name exactly as the APFS listing has it (disk3s1, no /dev/)",
      "the role code of the volume BSD: 0 System, 1 Data, 2 Preboot, 3 Recovery, 4 VM, 5 Backup, "
      "6 none (also for an unknown volume)",
      [](const Context& c, const std::string& bsd) {
        APFSVolumeRole role = getAPFSVolumeRole(bsd);
        bool exists = role != APFSVolumeRoleNone || deviceExists(c, bsd);
        return printAnswerAbout(c, PlistValue(static_cast<std::int64_t>(role)), exists,
                                noDevice(bsd), [role](const PlistValue&) {
                                  return std::to_string(static_cast<int>(role)) + " (" +
                                         roleName(role) + ")";
                                });
      });
}

}  // namespace strandel::tool
