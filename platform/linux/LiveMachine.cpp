#include "platform/linux/LiveMachine.hpp"

#include "platform/app/AppServices.hpp"
#include "platform/linux/LiveMountTable.hpp"
#include "platform/posix/LiveServices.hpp"
#include "platform/posix/Processes.hpp"

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


}  // namespace

std::shared_ptr<Machine> makeLiveMachine() {
  return std::make_shared<Machine>(MachineServices{std::make_shared<EmptyRegistry>(), makeLiveMountTable(), makeHostProcesses(),
                                                   makeLiveFiles(), makeLiveSettings(), makeBundleLocalizer(), makeStderrLog()});
}

}  // namespace strandel::platform::live
