#include "platform/HostServices.hpp"

#include <strandel/Machine.hpp>

namespace strandel::platform {
// Not built yet: the host services are their own change.
namespace {
struct NoSettings : Settings {
  std::optional<PlistValue> get(std::string_view) override { return std::nullopt; }
  bool set(std::string_view, const PlistValue&) override { return false; }
};
struct KeyLocalizer : Localizer {
  std::string localized(std::string_view key, std::string_view) override { return std::string(key); }
};
struct NoLog : Log {
  void write(std::string_view) override {}
};
}  // namespace
std::shared_ptr<Settings> makeFileSettings(std::string) { return std::make_shared<NoSettings>(); }
std::shared_ptr<Settings> makeMemorySettings() { return std::make_shared<NoSettings>(); }
std::string chosenSettingsFile() { return ""; }
std::string defaultSettingsFile() { return ""; }
std::shared_ptr<Localizer> makeBundleLocalizer() { return std::make_shared<KeyLocalizer>(); }
std::shared_ptr<Log> makeStderrLog() { return std::make_shared<NoLog>(); }
void FdTraits::free(int) noexcept {}
}  // namespace strandel::platform

namespace strandel {
void useBundle(std::string_view) {}
void useSettingsFile(std::string_view) {}
}  // namespace strandel
