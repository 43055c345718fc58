// What the host names once for the whole process (its settings file, its bundle folder): read
// from any thread, with an environment variable standing in until the host names one.
#pragma once

#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

namespace strandel::platform {

class ProcessChoice {
 public:
  /// Names the value; nothing takes the choice back, so that the environment names it again.
  void choose(std::optional<std::string> value) {
    std::lock_guard lock(mutex_);
    value_ = std::move(value);
  }

  /// The value named, else the variable `environment`; "" when neither names one.
  std::string chosenOr(const char* environment) const {
    {
      std::lock_guard lock(mutex_);
      if (value_) return *value_;
    }
    const char* value = std::getenv(environment);
    return value ? value : "";
  }

 private:
  mutable std::mutex mutex_;
  std::optional<std::string> value_;
};

}  // namespace strandel::platform
