// The live host's settings: whichever file the process names at the time of the call.
#include <mutex>

#include "platform/app/AppServices.hpp"
#include "platform/posix/LiveServices.hpp"

namespace strandel::platform::live {
namespace {

class LiveSettings final : public Settings {
 public:
  std::optional<PlistValue> get(std::string_view key) override { return store()->get(key); }
  bool set(std::string_view key, const PlistValue& value) override {
    return store()->set(key, value);
  }

 private:
  // The file is named again on every call, so a host that calls useSettingsFile after the
  // machine was chosen still gets the file it named. The store of a file is kept while the
  // name stays the same, which keeps its read cache warm.
  std::shared_ptr<Settings> store() {
    std::string path = chosenSettingsFile();
    if (path.empty()) path = defaultSettingsFile();
    std::lock_guard lock(mutex_);
    if (!store_ || path != path_) {
      // With neither a chosen file nor a home folder to keep one in, the settings last as long
      // as the process: the cached version facts still spare later calls a tool run.
      store_ = path.empty() ? makeMemorySettings() : makeFileSettings(path);
      path_ = std::move(path);
    }
    return store_;
  }

  std::mutex mutex_;
  std::string path_;
  std::shared_ptr<Settings> store_;
};

}  // namespace

std::unique_ptr<Settings> makeLiveSettings() { return std::make_unique<LiveSettings>(); }

}  // namespace strandel::platform::live
