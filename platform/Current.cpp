// Choosing the machine of the process. This is the one place that knows both backends.
#include <atomic>
#include <cstdlib>
#include <mutex>

#include <strandel/Machine.hpp>

#include "platform/Machine.hpp"
#include "platform/image/ImageMachine.hpp"
#include "platform/live/LiveMachine.hpp"

namespace strandel::platform {
namespace {

std::atomic<std::shared_ptr<Machine>>& slot() {
  static std::atomic<std::shared_ptr<Machine>> machine;
  return machine;
}

std::shared_ptr<Machine> machineFromEnvironment() {
  const char* dir = std::getenv("STRANDEL_MACHINE");
  if (dir && *dir) {
    image::LoadResult loaded = image::loadMachine(dir);
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
  platform::image::LoadResult loaded = platform::image::loadMachine(imageDir);
  if (!loaded.machine) return loaded.error;
  platform::setCurrent(std::move(loaded.machine));
  return std::nullopt;
}

void useLiveMachine() { platform::setCurrent(platform::live::makeLiveMachine()); }

}  // namespace strandel
