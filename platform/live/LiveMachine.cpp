#include "platform/live/LiveMachine.hpp"

#include "platform/HostServices.hpp"
#include "platform/live/LiveServices.hpp"

namespace strandel::platform::live {
namespace {

// Linux has no I/O registry and no disk arbitration: there are no media objects, so nothing
// is found and the volume list of the live host is empty.
class EmptyRegistry final : public Registry {
 public:
  std::vector<RegistryObject> mediaObjects() override { return {}; }
  std::optional<RegistryObject> mediaObjectForBSDName(std::string_view) override { return std::nullopt; }
  std::vector<RegistryObject> descendants(RegistryObject) override { return {}; }
  std::string className(RegistryObject) override { return {}; }
  std::optional<PlistValue> searchProperty(RegistryObject, std::string_view) override { return std::nullopt; }
  std::shared_ptr<const PlistDict> description(RegistryObject) override { return nullptr; }
  std::shared_ptr<const PlistDict> descriptionForBSDName(std::string_view) override { return nullptr; }
  std::optional<PlistArray> tree() override { return PlistArray{}; }
};

class LiveMachine final : public Machine {
 public:
  Registry& registry() override { return registry_; }
  MountTable& mountTable() override { return *mountTable_; }
  Processes& processes() override { return *processes_; }
  Files& files() override { return *files_; }
  Settings& settings() override { return *settings_; }
  Localizer& localizer() override { return *localizer_; }
  Log& log() override { return *log_; }

 private:
  EmptyRegistry registry_;
  std::unique_ptr<MountTable> mountTable_ = makeLiveMountTable();
  std::unique_ptr<Processes> processes_ = makeHostProcesses();
  std::unique_ptr<Files> files_ = makeLiveFiles();
  std::unique_ptr<Settings> settings_ = makeLiveSettings();
  std::shared_ptr<Localizer> localizer_ = makeBundleLocalizer();
  std::shared_ptr<Log> log_ = makeStderrLog();
};

}  // namespace

std::shared_ptr<Machine> makeLiveMachine() { return std::make_shared<LiveMachine>(); }

}  // namespace strandel::platform::live
