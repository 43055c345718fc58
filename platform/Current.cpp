// Choosing the machine of the process. This is the one place that knows both backends.
#include <atomic>
#include <cstdlib>
#include <mutex>

#include <strandel/Machine.hpp>

#include "platform/Machine.hpp"
#include "platform/image/ImageMachine.hpp"
#include "platform/linux/LiveMachine.hpp"
#include "platform/linux/Sandbox.hpp"

namespace strandel::platform {
namespace {

std::atomic<std::shared_ptr<Machine>>& slot() {
  // Never destroyed, on purpose: tearing down the machine at exit would free a loaded image's
  // every registry entry, description and string one by one, a tenth of a large image's run,
  // only for the OS to take back the same memory at once. The machine stays reachable from
  // this pointer to the end, so leak checkers count it as still in use, not as lost.
  static auto* machine = new std::atomic<std::shared_ptr<Machine>>();
  return *machine;
}

std::shared_ptr<Machine> machineFromEnvironment() {
  const char* dir = std::getenv("STRANDEL_MACHINE");
  if (dir && *dir) {
    image::LoadResult loaded = image::loadMachine(dir, live::makeSandbox);
    if (loaded.machine) return loaded.machine;
    // The library has no one to tell; the tool checks STRANDEL_MACHINE itself and reports.
  }
  return live::makeLiveMachine();
}

}  // namespace

std::shared_ptr<Machine> current() {
  auto machine = slot().load(std::memory_order_acquire);
  if (machine) return machine;
  // The first use chooses once; a racing second chooser keeps the first one's choice.
  static std::once_flag once;
  std::call_once(once, [] {
    std::shared_ptr<Machine> expected;
    slot().compare_exchange_strong(expected, machineFromEnvironment());
  });
  return slot().load(std::memory_order_acquire);
}

void setCurrent(std::shared_ptr<Machine> machine) { slot().store(std::move(machine), std::memory_order_release); }

}  // namespace strandel::platform

namespace strandel {

std::optional<std::string> useMachine(std::string_view imageDir) {
  platform::image::LoadResult loaded = platform::image::loadMachine(imageDir, platform::live::makeSandbox);
  if (!loaded.machine) return loaded.error;
  platform::setCurrent(std::move(loaded.machine));
  return std::nullopt;
}

void useLiveMachine() { platform::setCurrent(platform::live::makeLiveMachine()); }

}  // namespace strandel
