// Choosing the machine of the process. This is the one place that knows both backends.
#include <atomic>
#include <cstdlib>
#include <mutex>

#include <strandel/Machine.hpp>

#include "platform/Machine.hpp"
#include "platform/app/AppServices.hpp"
#include "platform/image/ImageMachine.hpp"
#include "platform/linux/LiveDisks.hpp"
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

// The machine of a process whose STRANDEL_MACHINE can't be loaded. Falling back to the live
// host would answer for another machine than the one asked about, and the host would take the
// answers for the image's: nothing is found, no tool starts, nothing is read or written.
class NothingRegistry final : public Registry {
 public:
  std::vector<RegistryObject> mediaObjects() override { return {}; }
  std::optional<RegistryObject> mediaObjectForBSDName(std::string_view) override {
    return std::nullopt;
  }
  std::vector<RegistryObject> descendants(RegistryObject) override { return {}; }
  std::string className(RegistryObject) override { return {}; }
  std::optional<PlistValue> searchProperty(RegistryObject, std::string_view) override {
    return std::nullopt;
  }
  std::shared_ptr<const PlistDict> description(RegistryObject) override { return nullptr; }
  std::shared_ptr<const PlistDict> descriptionForBSDName(std::string_view) override {
    return nullptr;
  }
  std::optional<PlistArray> tree() override { return std::nullopt; }
};

class NothingMountTable final : public MountTable {
 public:
  bool scan(const std::function<bool(const MountEntryView&)>&) override { return false; }
  std::optional<FsFigures> statfs(std::string_view) override { return std::nullopt; }
};

class NothingProcesses final : public Processes {
 public:
  std::optional<ToolOutput> runTool(const ToolRunOptions&) override { return std::nullopt; }
  bool runToolToFile(const ToolRunOptions&, int) override { return false; }
  std::unique_ptr<ShellStream> openShell(std::string_view, std::string_view) override {
    return nullptr;
  }
};

class NothingFiles final : public Files {
 public:
  std::optional<PlistValue> readPlistFile(std::string_view) override { return std::nullopt; }
  UniqueFd createExclusive(std::string_view) override { return UniqueFd(); }
  bool remove(std::string_view) override { return false; }
  std::string userName() override { return {}; }
};

std::shared_ptr<Machine> machineFromEnvironment() {
  const char* dir = std::getenv("STRANDEL_MACHINE");
  if (!dir || !*dir) return live::makeLiveMachine();
  image::LoadResult loaded = image::loadMachine(dir, live::makeSandbox);
  if (loaded.machine) return loaded.machine;
  std::shared_ptr<Log> log = makeStderrLog();
  log->write("STRANDEL_MACHINE can't be used, so nothing is answered: " + loaded.error);
  return std::make_shared<Machine>(
      MachineServices{std::make_shared<NothingRegistry>(), std::make_shared<NothingMountTable>(),
                      std::make_shared<NothingProcesses>(), std::make_shared<NothingFiles>(),
                      makeMemorySettings(), makeBundleLocalizer(), std::move(log)});
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

void setCurrent(std::shared_ptr<Machine> machine) {
  slot().store(std::move(machine), std::memory_order_release);
}

}  // namespace strandel::platform

namespace strandel {

std::optional<std::string> useMachine(std::string_view imageDir) {
  platform::image::LoadResult loaded =
      platform::image::loadMachine(imageDir, platform::live::makeSandbox);
  if (!loaded.machine) return loaded.error;
  platform::setCurrent(std::move(loaded.machine));
  return std::nullopt;
}

void useLiveMachine() { platform::setCurrent(platform::live::makeLiveMachine()); }

std::optional<std::string> platform::useDiskImage(std::string_view path) {
  std::string file(path);
  if (auto problem = live::diskImageProblem(file)) return problem;
  setCurrent(live::makeDiskImageMachine(file));
  return std::nullopt;
}

}  // namespace strandel
