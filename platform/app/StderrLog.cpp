// The log line: on standard error, unless the host has set a sink of its own.
#include <sys/time.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <mutex>

#include <strandel/Machine.hpp>

#include "platform/app/AppServices.hpp"
#include "platform/app/ProgramName.hpp"

namespace strandel::platform {
namespace {

// The host's sink; null for standard error. A writer takes its own reference, so a sink that
// is replaced meanwhile lives until the message it was given is written.
struct SinkSlot {
  std::mutex mutex;
  std::shared_ptr<const LogSink> sink;
};

SinkSlot& sinkSlot() {
  static SinkSlot slot;
  return slot;
}

std::shared_ptr<const LogSink> currentSink() {
  SinkSlot& slot = sinkSlot();
  std::lock_guard lock(slot.mutex);
  return slot.sink;
}

class StderrLog final : public Log {
 public:
  void write(std::string_view message) override {
    if (auto sink = currentSink()) {
      try {
        (*sink)(message);
      } catch (...) {
        // The host's exception must not cross back through the library; the message is lost.
      }
      return;
    }
    timeval now{};
    ::gettimeofday(&now, nullptr);
    tm local{};
    ::localtime_r(&now.tv_sec, &local);
    char stamp[48];
    std::size_t stampLength = std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    char millis[16];
    std::snprintf(millis, sizeof millis, ".%03d ", static_cast<int>(now.tv_usec / 1000));
    std::string line;
    line.reserve(stampLength + 64 + message.size());
    line.append(stamp, stampLength).append(millis).append(programName());
    line.append("[")
        .append(std::to_string(::getpid()))
        .append("] ")
        .append(message)
        .push_back('\n');
    // One write, so that lines of several threads or processes sharing stderr never interleave.
    base::retryAfterSignal([&] { return ::write(STDERR_FILENO, line.data(), line.size()); });
  }
};

}  // namespace

std::shared_ptr<Log> makeStderrLog() { return std::make_shared<StderrLog>(); }

}  // namespace strandel::platform

namespace strandel {

void setLogSink(LogSink sink) {
  std::shared_ptr<const LogSink> next =
      sink ? std::make_shared<const LogSink>(std::move(sink)) : nullptr;
  platform::SinkSlot& slot = platform::sinkSlot();
  std::lock_guard lock(slot.mutex);
  slot.sink.swap(next);
}  // The old sink, now in `next`, is released here, after the lock is let go.

}  // namespace strandel
