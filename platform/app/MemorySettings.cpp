// Settings that last as long as the machine that holds them.
#include <mutex>

#include "platform/app/AppServices.hpp"

namespace strandel::platform {
namespace {

class MemorySettings final : public Settings {
 public:
  std::optional<PlistValue> get(std::string_view key) override {
    std::lock_guard lock(mutex_);
    auto found = store_.find(key);
    if (found == store_.end()) return std::nullopt;
    return found->second;
  }

  bool set(std::string_view key, const PlistValue& value) override {
    std::lock_guard lock(mutex_);
    store_.insert_or_assign(std::string(key), value);
    return true;
  }

 private:
  std::mutex mutex_;
  PlistDict store_;
};

}  // namespace

std::shared_ptr<Settings> makeMemorySettings() { return std::make_shared<MemorySettings>(); }

}  // namespace strandel::platform
