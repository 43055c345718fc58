// A machine for fuzz targets that read through the seam: one tool answers with the fuzz input,
// the mount table can be any table, settings live in memory. Everything else is the live
// host's, which a lookup under test never reaches.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "platform/Machine.hpp"
#include "platform/app/AppServices.hpp"
#include "platform/linux/LiveMountTable.hpp"
#include "platform/posix/LiveServices.hpp"

namespace strandel::fuzz {

class NoRegistry final : public platform::Registry {
 public:
  std::vector<platform::RegistryObject> mediaObjects() override { return {}; }
  std::optional<platform::RegistryObject> mediaObjectForBSDName(std::string_view) override {
    return std::nullopt;
  }
  std::vector<platform::RegistryObject> descendants(platform::RegistryObject) override {
    return {};
  }
  std::string className(platform::RegistryObject) override { return {}; }
  std::optional<PlistValue> searchProperty(platform::RegistryObject, std::string_view) override {
    return std::nullopt;
  }
  std::shared_ptr<const PlistDict> description(platform::RegistryObject) override {
    return nullptr;
  }
  std::shared_ptr<const PlistDict> descriptionForBSDName(std::string_view) override {
    return nullptr;
  }
  std::optional<PlistArray> tree() override { return std::nullopt; }
};

/// Answers a run of `tool` with `output`; no other tool can be started.
class OneToolProcesses final : public platform::Processes {
 public:
  std::string tool;
  std::string output;

  std::optional<platform::ToolOutput> runTool(const platform::ToolRunOptions& options) override {
    if (options.tool != tool) return std::nullopt;
    return platform::ToolOutput{output};
  }
  bool runToolToFile(const platform::ToolRunOptions&, int) override { return false; }
  std::unique_ptr<platform::ShellStream> openShell(std::string_view, std::string_view) override {
    return nullptr;
  }
};

/// A machine running the OS version `version` (as the version tool would print it), its mount
/// table `mountTable` (the live host's when null), its one tool answered by `tool()`.
struct FuzzMachine {
  explicit FuzzMachine(std::string version,
                       std::unique_ptr<platform::MountTable> mountTable = nullptr)
      : machine(std::make_shared<platform::Machine>(platform::MachineServices{
            std::make_shared<NoRegistry>(),
            mountTable ? std::move(mountTable) : platform::live::makeLiveMountTable(), processes,
            platform::live::makeLiveFiles(), platform::makeMemorySettings(),
            platform::makeBundleLocalizer(), platform::makeStderrLog()})) {
    // The version is stored where the version facts keep it, so no version tool is asked.
    machine->settings().set("ZVCurrentSWVers", PlistValue(std::move(version)));
  }

  OneToolProcesses& tool() { return *processes; }

  std::shared_ptr<OneToolProcesses> processes = std::make_shared<OneToolProcesses>();
  std::shared_ptr<platform::Machine> machine;
};

}  // namespace strandel::fuzz
