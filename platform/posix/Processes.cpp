// Tool runs and shell runs as real processes of this host. Portable: what only one system has
// is asked for by its feature macro and left out where it is missing.
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <new>
#include <set>
#include <string>

#include "platform/posix/Processes.hpp"
#include "platform/posix/Spawn.hpp"
#include "text/ShellQuote.hpp"

namespace strandel::platform::live {
namespace {

constexpr std::size_t kReadSize = 64 * 1024;
constexpr int kPipeSize = 1 << 20;

struct Pipe {
  UniqueFd readEnd, writeEnd;
};

// Both ends are close-on-exec from birth; the child's stdout is a duplicate made in the child.
std::optional<Pipe> makePipe() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return std::nullopt;
  // A larger pipe lets a fast tool run ahead while the reader grows its storage; where the
  // system refuses, the default pipe works as well, only with more switches between the two.
#ifdef F_SETPIPE_SZ
  ::fcntl(fds[1], F_SETPIPE_SZ, kPipeSize);
#endif
  return Pipe{UniqueFd(fds[0]), UniqueFd(fds[1])};
}

enum class ReadEnd { End, Error, OverCap };

// A large output is read into huge pages where the kernel gives them on request: faulting in
// 4 KiB pages one by one costs more than the reading itself once an output runs to hundreds of
// megabytes. The advice is only advice; without it the read is as correct, only slower.
void adviseHugePages([[maybe_unused]] std::string& out) {
#ifdef MADV_HUGEPAGE
  constexpr std::uintptr_t kHuge = std::uintptr_t{2} << 20;
  if (out.capacity() < 4 * kHuge) return;
  auto begin = (reinterpret_cast<std::uintptr_t>(out.data()) + kHuge - 1) & ~(kHuge - 1);
  auto end = (reinterpret_cast<std::uintptr_t>(out.data()) + out.capacity()) & ~(kHuge - 1);
  if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#endif
}

// Reads into the string itself, so the bytes are copied once, from the kernel. The storage
// grows geometrically, and only the next read's room is zero-filled (by resize) ahead of the
// bytes, so the whole read costs time in proportion to the output. Never more than `cap`
// bytes are kept; one more tells that the output went over. Whatever the end, `out` holds the
// bytes read until then.
ReadEnd readToEnd(int fd, std::string& out, std::size_t cap) {
  std::size_t used = out.size();
  ReadEnd end = ReadEnd::End;
  while (used <= cap) {
    if (used == out.size()) {
      if (out.capacity() - used < kReadSize) {
        // Straight to the cap once doubling would pass half of it: the string's own growth
        // would otherwise double once more past the cap, copying the whole output again.
        std::size_t wanted = std::max(2 * out.capacity(), used + kReadSize);
        out.reserve(wanted > cap / 2 ? cap + 1 : wanted);
        adviseHugePages(out);
      }
      out.resize(std::min({used + kReadSize, out.capacity(), cap + 1}));
    }
    ssize_t n = base::retryAfterSignal([&] { return ::read(fd, out.data() + used, out.size() - used); });
    if (n <= 0) {
      end = n == 0 ? ReadEnd::End : ReadEnd::Error;
      break;
    }
    used += static_cast<std::size_t>(n);
  }
  if (used > cap) end = ReadEnd::OverCap;
  out.resize(used);
  return end;
}

SpawnRequest requestFor(const ToolRunOptions& options, int standardOutput) {
  return SpawnRequest{options.tool,          options.arguments,     options.environment,
                      options.standardInput, options.standardError, standardOutput};
}

void killNow(const ChildProcess& child) {
  if (child) ::kill(child.get(), SIGKILL);
}

// The shell's output, handed out in the pieces `fgets` would give. Reads go to a read-ahead
// buffer in large chunks; each piece is then copied once, from there to the caller's buffer.
class LiveShellStream final : public ShellStream {
 public:
  LiveShellStream(UniqueFd output, ChildProcess shell) : output_(std::move(output)), shell_(std::move(shell)) {}
  ~LiveShellStream() override { close(); }

  std::optional<std::size_t> readPiece(char* buffer, std::size_t capacity) override {
    if (capacity == 0 || !output_) return std::nullopt;
    std::size_t wanted = capacity - 1;
    std::size_t stored = 0;
    while (stored < wanted) {
      if (begin_ == end_ && !refill()) break;
      std::size_t take = std::min(wanted - stored, end_ - begin_);
      const char* from = ahead_.get() + begin_;
      const void* lineFeed = std::memchr(from, '\n', take);
      if (lineFeed) take = static_cast<std::size_t>(static_cast<const char*>(lineFeed) - from) + 1;
      std::memcpy(buffer + stored, from, take);
      stored += take;
      begin_ += take;
      if (lineFeed) break;
    }
    if (failed_) return std::nullopt;
    // As with fgets, a capacity of one gives an empty piece rather than the end.
    if (stored == 0 && wanted > 0) return std::nullopt;
    buffer[stored] = '\0';
    return stored;
  }

  void close() override {
    // A caller that stops reading before the end wants no more: a command that ignores the
    // broken pipe would otherwise hold this call for as long as it likes to print.
    if (output_ && !atEnd_) killNow(shell_);
    output_.reset();
    waitForExit(std::move(shell_));
  }

 private:
  // False at the end of the output or on a read error (after which the stream gives nothing).
  bool refill() {
    if (atEnd_) return false;
    if (!ahead_) ahead_ = std::make_unique<char[]>(kReadSize);
    ssize_t n = base::retryAfterSignal([&] { return ::read(output_.get(), ahead_.get(), kReadSize); });
    if (n <= 0) {
      atEnd_ = true;
      failed_ = n < 0;
      return false;
    }
    begin_ = 0;
    end_ = static_cast<std::size_t>(n);
    return true;
  }

  UniqueFd output_;
  ChildProcess shell_;
  std::unique_ptr<char[]> ahead_;
  std::size_t begin_ = 0, end_ = 0;
  bool atEnd_ = false, failed_ = false;
};

// The tools that can't be started because their file is missing or not executable, found out
// once per tool. A Linux host has no OS-version tool, and one command can ask for it more than
// once: a look at the file answers the first ask, without a spawn that is bound to fail, and
// this set every later one. A start that failed for want of resources is not remembered; the
// next run tries again.
class UnstartableTools {
 public:
  bool contains(const std::string& tool) {
    {
      std::lock_guard lock(mutex_);
      if (tools_.contains(tool)) return true;
    }
    // With the effective ids, as the start itself will be checked.
    if (::faccessat(AT_FDCWD, tool.c_str(), X_OK, AT_EACCESS) == 0) return false;
    remember(tool);
    return true;
  }
  void noteFailedStart(const std::string& tool) {
    if (::faccessat(AT_FDCWD, tool.c_str(), X_OK, AT_EACCESS) != 0) remember(tool);
  }

 private:
  void remember(const std::string& tool) {
    std::lock_guard lock(mutex_);
    tools_.insert(tool);
  }

  std::mutex mutex_;
  std::set<std::string> tools_;
};

class HostProcesses final : public Processes {
 public:
  explicit HostProcesses(ProcessOptions options) : options_(std::move(options)) {}

  std::optional<ToolOutput> runTool(const ToolRunOptions& options) override {
    if (unstartable_.contains(options.tool)) return std::nullopt;
    reapPendingChildren();
    if (!sandboxUsable()) return std::nullopt;
    auto pipe = makePipe();
    if (!pipe) return std::nullopt;
    ChildProcess child = start(requestFor(options, pipe->writeEnd.get()));
    // Our copy of the write end must go before reading, or the pipe would never reach its end.
    pipe->writeEnd.reset();
    if (!child) {
      unstartable_.noteFailedStart(options.tool);
      return std::nullopt;
    }
    ToolOutput output;
    ReadEnd end = ReadEnd::OverCap;
    try {
      // A read error ends the output early; the bytes read until then are the tool's answer.
      end = readToEnd(pipe->readEnd.get(), output.bytes, options_.outputCap);
    } catch (const std::bad_alloc&) {
      // No memory for the output: it is as unusable as one over the cap.
    }
    if (end == ReadEnd::OverCap) {
      // Output past the cap is no answer at all, and a tool that prints without end is ended.
      killNow(child);
      pipe->readEnd.reset();
      waitForExit(std::move(child));
      return ToolOutput{};
    }
    pipe->readEnd.reset();
    // The run is not waited for: a tool that has closed its output but keeps running is left
    // to a later run to reap, instead of blocking this one.
    reapAfterOutput(std::move(child));
    return output;
  }

  bool runToolToFile(const ToolRunOptions& options, int output) override {
    if (unstartable_.contains(options.tool)) return false;
    reapPendingChildren();
    if (output < 0 || !sandboxUsable()) return false;
    ChildProcess child = start(requestFor(options, output));
    if (!child) {
      unstartable_.noteFailedStart(options.tool);
      return false;
    }
    waitForExit(std::move(child));
    return true;
  }

  std::unique_ptr<ShellStream> openShell(std::string_view tool, std::string_view argumentText) override {
    reapPendingChildren();
    if (!sandboxUsable()) return nullptr;
    auto pipe = makePipe();
    if (!pipe) return nullptr;
    std::string commandLine = detail::shellQuoted(tool);
    if (!argumentText.empty()) commandLine.append(" ").append(argumentText);
    // "--" keeps a command line that starts with "-" from being read as the shell's options.
    SpawnRequest request{"/bin/sh", {"-c", "--", std::move(commandLine)}, Environment::Host,
                         StdStream::Inherit, StdStream::Inherit, pipe->writeEnd.get()};
    ChildProcess shell = start(request);
    pipe->writeEnd.reset();
    if (!shell) return nullptr;
    return std::make_unique<LiveShellStream>(std::move(pipe->readEnd), std::move(shell));
  }

 private:
  bool sandboxUsable() const { return !options_.sandbox || options_.sandbox->usable(); }
  ChildProcess start(const SpawnRequest& request) const {
    return options_.sandbox ? options_.sandbox->spawn(request) : spawnChild(request);
  }

  ProcessOptions options_;
  UnstartableTools unstartable_;
};

}  // namespace

std::unique_ptr<Processes> makeHostProcesses(ProcessOptions options) {
  return std::make_unique<HostProcesses>(std::move(options));
}

}  // namespace strandel::platform::live
