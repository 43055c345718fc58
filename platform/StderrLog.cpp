// The log line on standard error.
#include <sys/time.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>

#include "platform/HostServices.hpp"
#include "platform/ProgramName.hpp"

namespace strandel::platform {
namespace {

class StderrLog final : public Log {
 public:
  void write(std::string_view message) override {
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
    line.append("[").append(std::to_string(::getpid())).append("] ").append(message).push_back('\n');
    // One write, so that lines of several threads or processes sharing stderr never interleave.
    retryAfterSignal([&] { return ::write(STDERR_FILENO, line.data(), line.size()); });
  }
};

}  // namespace

std::shared_ptr<Log> makeStderrLog() { return std::make_shared<StderrLog>(); }

}  // namespace strandel::platform
