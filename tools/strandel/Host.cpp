// What the live host lacks: a Linux host may show no disks (none, or none it may read) and has
// no OS version tool, and without a word the empty answers would look like a Mac's.
#include <cstdio>

#include <strandel/Strandel.hpp>

#include "platform/Machine.hpp"
#include "tools/strandel/Command.hpp"

namespace strandel::tool {

void noteMissingHostService(const Context& context, HostService service) {
  if (!context.liveHost) return;
  const char* message = nullptr;
  switch (service) {
    case HostService::DiskRegistry:
      if (auto machine = platform::current();
          machine && !machine->registry().mediaObjects().empty())
        return;
      message =
          "this host shows no disks: its volume list and registry are empty (--disk FILE answers "
          "for a disk image, --machine DIR for a machine image)";
      break;
    case HostService::VersionTool:
      // The version text is cached once read, so asking here costs the command nothing more.
      if (ZVGetCurrentSystemString()) return;
      message =
          "this host has no OS version tool: its version is unknown (--machine DIR answers for a "
          "machine image)";
      break;
  }
  std::fprintf(stderr, "strandel: %s\n", message);
}

}  // namespace strandel::tool
