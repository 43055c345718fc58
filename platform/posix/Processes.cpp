// Tool runs and shell runs as real processes of this host. Portable: what only one system has
// is asked for by its feature macro and left out where it is missing.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <thread>

#include "base/ReadAppend.hpp"
#include "platform/posix/Processes.hpp"
#include "platform/posix/Spawn.hpp"
#include "text/ControlEscape.hpp"
#include "text/ShellQuote.hpp"

namespace strandel::platform::live {
namespace {

constexpr std::size_t kReadSize = 64 * 1024;
constexpr int kPipeSize = 1 << 20;
// A line of a tool's standard error longer than this is passed on in pieces.
constexpr std::size_t kMaxErrorLine = 4096;

using Clock = std::chrono::steady_clock;

struct Pipe {
  UniqueFd readEnd, writeEnd;
};

enum class PipeSize { Default, Large };

// Both ends are close-on-exec from birth; the child's stdout is a duplicate made in the child.
std::optional<Pipe> makePipe(PipeSize size) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return std::nullopt;
    // A larger pipe lets a fast tool run ahead while the reader grows its storage; where the
    // system refuses, the default pipe works as well, only with more switches between the two.
#ifdef F_SETPIPE_SZ
  if (size == PipeSize::Large) ::fcntl(fds[1], F_SETPIPE_SZ, kPipeSize);
#endif
  return Pipe{UniqueFd(fds[0]), UniqueFd(fds[1])};
}

// When a run must be over: never for the host's own tools, at the time limit for a sandbox's.
class Deadline {
 public:
  explicit Deadline(std::chrono::milliseconds limit) {
    if (limit.count() > 0) at_ = Clock::now() + limit;
  }
  bool bounded() const { return at_.has_value(); }
  bool passed() const { return at_ && Clock::now() >= *at_; }
  // The earlier of the deadline and `wait` from now.
  Clock::time_point within(Clock::duration wait) const {
    Clock::time_point soon = Clock::now() + wait;
    return at_ ? std::min(*at_, soon) : soon;
  }
  // poll's timeout until the deadline: -1 (none) without one.
  int pollTimeout() const { return at_ ? millisecondsUntil(*at_) : -1; }

  static int millisecondsUntil(Clock::time_point when) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(when - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 1'000'000));
  }

 private:
  std::optional<Clock::time_point> at_;
};

// A sandboxed tool's standard error, passed on to ours a line at a time with its control
// characters escaped: it reaches a person's terminal, and no byte of it may steer that.
class ErrorRelay {
 public:
  ErrorRelay() = default;
  explicit ErrorRelay(UniqueFd fd) : fd_(std::move(fd)) {}
  ErrorRelay(ErrorRelay&&) = default;
  ErrorRelay& operator=(ErrorRelay&&) = default;
  ~ErrorRelay() { flush(true); }

  int fd() const { return fd_.get(); }
  bool open() const { return static_cast<bool>(fd_); }

  // One read; at the end of the stream (or an error) the descriptor is closed.
  void pump() {
    char buffer[4096];
    ssize_t n = base::retryAfterSignal([&] { return ::read(fd_.get(), buffer, sizeof buffer); });
    if (n <= 0) {
      fd_.reset();
      flush(true);
      return;
    }
    pending_.append(buffer, static_cast<std::size_t>(n));
    flush(false);
  }

  // Passes on what is there without waiting, then lets go of the stream.
  void drainAndClose() {
    while (open()) {
      pollfd entry{fd_.get(), POLLIN, 0};
      if (base::retryAfterSignal([&] { return ::poll(&entry, 1, 0); }) <= 0) break;
      pump();
    }
    fd_.reset();
    flush(true);
  }

 private:
  void flush(bool all) {
    std::size_t end = pending_.size();
    if (!all && end <= kMaxErrorLine) {
      std::size_t lineFeed = pending_.rfind('\n');
      end = lineFeed == std::string::npos ? 0 : lineFeed + 1;
    }
    if (end == 0) return;
    std::string text =
        text::escapedControls(std::string_view(pending_).substr(0, end), text::LineBreaks::Keep);
    pending_.erase(0, end);
    for (std::size_t done = 0; done < text.size();) {
      ssize_t n = base::retryAfterSignal(
          [&] { return ::write(2, text.data() + done, text.size() - done); });
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
  }

  UniqueFd fd_;
  std::string pending_;
};

// Waits until `fd` can be read, passing on the relay's text meanwhile. False when the
// deadline passed first.
bool awaitReadable(int fd, ErrorRelay& relay, const Deadline& deadline) {
  // The plain case, the host's own tools: the read itself waits.
  if (!relay.open() && !deadline.bounded()) return true;
  while (true) {
    pollfd entries[2] = {{fd, POLLIN, 0}, {relay.fd(), POLLIN, 0}};
    int count = relay.open() ? 2 : 1;
    int ready =
        base::retryAfterSignal([&] { return ::poll(entries, count, deadline.pollTimeout()); });
    if (ready == 0) return false;
    if (ready < 0) return true;  // the read then tells what is wrong
    if (count == 2 && entries[1].revents != 0) relay.pump();
    if (entries[0].revents != 0) return true;
  }
}

enum class ReadEnd { End, Error, OverCap, TimedOut };

// Moves `out` to storage of `capacity` bytes that is advised before the bytes so far are copied
// in: the string's own reserve would copy them first, faulting the new storage in small pages.
void growTo(std::string& out, std::size_t capacity) {
  std::string larger;
  larger.reserve(capacity);
  base::adviseHugePages(larger);
  larger.append(out);
  out.swap(larger);
}

// Reads into the string itself, so the bytes are copied once, from the kernel, into storage
// that is not zero-filled first (readAppend). The storage grows geometrically, so the whole
// read costs time in proportion to the output. Never more than `cap` bytes are kept; one more
// tells that the output went over. Whatever the end, `out` holds the bytes read until then.
ReadEnd readToEnd(int fd, std::string& out, std::size_t cap, ErrorRelay& relay,
                  const Deadline& deadline) {
  while (out.size() <= cap) {
    std::size_t used = out.size();
    if (out.capacity() - used < kReadSize) {
      // Straight to the cap once doubling would pass half of it: the string's own growth
      // would otherwise double once more past the cap, copying the whole output again.
      std::size_t wanted = std::max(2 * out.capacity(), used + kReadSize);
      growTo(out, wanted > cap / 2 ? cap + 1 : wanted);
    }
    std::size_t room = std::min(out.capacity(), cap + 1) - used;
    ssize_t n = base::readAppend(fd, out, room);
    if (n < 0 && errno == EAGAIN) {
      // Nothing there yet (a sandboxed run reads without blocking): wait for it, passing on
      // standard error meanwhile. While output keeps coming, no poll is spent before each read.
      if (!awaitReadable(fd, relay, deadline)) return ReadEnd::TimedOut;
      continue;
    }
    if (n <= 0) return n == 0 ? ReadEnd::End : ReadEnd::Error;
    if (deadline.passed()) return ReadEnd::TimedOut;
  }
  return ReadEnd::OverCap;
}

SpawnRequest requestFor(const ToolRunOptions& options, int standardOutput,
                        int standardErrorOutput) {
  return SpawnRequest{options.tool,          options.arguments,     options.environment,
                      options.standardInput, options.standardError, standardOutput,
                      standardErrorOutput};
}

// Waits, passing on standard error, until the child ends or `until`: how it ended; nothing
// when it has not (the child is kept).
std::optional<ExitStatus> settle(ChildProcess& child, ErrorRelay& relay, Clock::time_point until) {
  std::optional<ExitStatus> status;
  auto ended = [&] { return (status = reapIfEnded(child)).has_value(); };
  auto pause = [&](Clock::duration wait) {
    if (!relay.open()) return std::this_thread::sleep_for(wait);
    // Whole milliseconds: the stream ends when the tool does, which wakes the poll at once.
    pollfd entry{relay.fd(), POLLIN, 0};
    int milliseconds = Deadline::millisecondsUntil(Clock::now() + wait);
    if (base::retryAfterSignal([&] { return ::poll(&entry, 1, milliseconds); }) > 0) relay.pump();
  };
  waitWithBackoff(ended, until, pause);
  return status;
}

// The end of a sandboxed run: the tool is given a moment to exit, then it and all it started
// are ended; nothing outlives the call. How the tool ended (killed: 137).
std::optional<ExitStatus> finishSandboxed(ChildProcess child, ErrorRelay& relay,
                                          Clock::time_point until) {
  std::optional<ExitStatus> status = settle(child, relay, until);
  if (!status) {
    killGroup(child);
    status = waitForExit(std::move(child));
  }
  relay.drainAndClose();
  return status;
}

// A sandboxed run's writes go in place once it has ended, whichever way it ended: what a tool
// left before its time ran out stays as it would have without the sandbox.
void putInPlace(std::unique_ptr<HeldWrites>& writes) {
  if (writes) writes->putInPlace();
  writes.reset();
}

// The shell's output, handed out in the pieces `fgets` would give. Reads go to a read-ahead
// buffer in large chunks; each piece is then copied once, from there to the caller's buffer.
class LiveShellStream final : public ShellStream {
 public:
  LiveShellStream(UniqueFd output, ChildProcess shell, std::unique_ptr<HeldWrites> writes,
                  ErrorRelay relay, Deadline deadline, bool sandboxed)
      : output_(std::move(output)),
        shell_(std::move(shell)),
        writes_(std::move(writes)),
        relay_(std::move(relay)),
        deadline_(deadline),
        sandboxed_(sandboxed) {}
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

  std::optional<int> close() override {
    // A caller that stops reading before the end wants no more: a command that ignores the
    // broken pipe would otherwise hold this call for as long as it likes to print.
    bool early = output_ && !atEnd_;
    output_.reset();
    std::optional<ExitStatus> status;
    if (!sandboxed_) {
      if (early && shell_) ::kill(shell_.get(), SIGKILL);
      status = waitForExit(std::move(shell_));
    } else {
      if (early) killGroup(shell_);
      if (shell_) {
        status = finishSandboxed(std::move(shell_), relay_, deadline_.within(kExitGrace));
      } else {
        relay_.drainAndClose();
      }
      putInPlace(writes_);
    }
    // Ended here because the caller stopped reading: how it ended says nothing of the command.
    if (early) return std::nullopt;
    return status;
  }

 private:
  // False at the end of the output, on a read error or at the time limit (after which the
  // stream gives nothing).
  bool refill() {
    if (atEnd_) return false;
    if (!ahead_) ahead_ = std::make_unique<char[]>(kReadSize);
    if (!awaitReadable(output_.get(), relay_, deadline_)) {
      // Out of time: the tool and what it started are ended, and the stream ends here.
      killGroup(shell_);
      atEnd_ = true;
      return false;
    }
    ssize_t n =
        base::retryAfterSignal([&] { return ::read(output_.get(), ahead_.get(), kReadSize); });
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
  std::unique_ptr<HeldWrites> writes_;
  ErrorRelay relay_;
  Deadline deadline_;
  bool sandboxed_;
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

// The size of the last output, so that the next run reserves room for one of its kind at once.
// The output is read straight into the string that is handed out: no copy of it is ever made,
// and with room reserved up front, none on growth either. Memory freed by the caller's last
// output is usually what the allocator gives back for the next, already faulted in.
class OutputSizeHint {
 public:
  std::size_t room() const { return last_.load(std::memory_order_relaxed) + kReadSize; }
  void note(std::size_t size) { last_.store(size, std::memory_order_relaxed); }

 private:
  std::atomic<std::size_t> last_{0};
};

// Reserved room that a much smaller output would carry out with it: such an output is copied
// into a string of its own size, which costs little when it is small.
void fitToSize(std::string& output) {
  if (output.capacity() - output.size() > std::max(output.size(), kReadSize))
    output.shrink_to_fit();
}

class HostProcesses final : public Processes {
 public:
  explicit HostProcesses(ProcessOptions options) : options_(std::move(options)) {}

  std::optional<ToolOutput> runTool(const ToolRunOptions& options) override {
    if (unstartable_.contains(options.tool)) return std::nullopt;
    reapPendingChildren();
    if (!sandboxUsable()) return std::nullopt;
    auto pipe = makePipe(PipeSize::Large);
    if (!pipe) return std::nullopt;
    std::optional<Pipe> errors = errorPipeFor(options);
    if (!errors) return std::nullopt;
    auto [child, writes] = start(requestFor(options, pipe->writeEnd.get(), errors->writeEnd.get()));
    // Our copies of the write ends must go before reading, or the pipes would never end.
    pipe->writeEnd.reset();
    errors->writeEnd.reset();
    if (!child) {
      unstartable_.noteFailedStart(options.tool);
      return std::nullopt;
    }
    Deadline deadline(timeLimit());
    ErrorRelay relay(std::move(errors->readEnd));
    // A sandboxed run's reads must also watch its standard error and its time limit: they are
    // tried first and wait in poll only when nothing is there. Only our end is non-blocking.
    if (options_.sandbox) ::fcntl(pipe->readEnd.get(), F_SETFL, O_NONBLOCK);
    ToolOutput output;
    ReadEnd end = ReadEnd::OverCap;
    try {
      reserveRoom(output.bytes);
      // A read error ends the output early; the bytes read until then are the tool's answer.
      end = readToEnd(pipe->readEnd.get(), output.bytes, options_.outputCap, relay, deadline);
      if (end == ReadEnd::End || end == ReadEnd::Error) {
        sizeHint_.note(output.bytes.size());
        fitToSize(output.bytes);
      }
    } catch (const std::bad_alloc&) {
      // No memory for the output: it is as unusable as one over the cap.
      end = ReadEnd::OverCap;
    }
    if (end == ReadEnd::OverCap || end == ReadEnd::TimedOut) {
      // Output past the cap, or none in time, is no answer at all, and the tool is ended.
      stop(child);
      pipe->readEnd.reset();
      waitForExit(std::move(child));
      relay.drainAndClose();
      putInPlace(writes);
      return ToolOutput{};
    }
    pipe->readEnd.reset();
    if (options_.sandbox) {
      finishSandboxed(std::move(child), relay, deadline.within(kExitGrace));
      putInPlace(writes);
    } else {
      // The run is not waited for: a tool of the host that has closed its output but keeps
      // running is left to a later run to reap, instead of blocking this one.
      reapAfterOutput(std::move(child));
    }
    return output;
  }

  bool runToolToFile(const ToolRunOptions& options, int output) override {
    if (unstartable_.contains(options.tool)) return false;
    reapPendingChildren();
    if (output < 0 || !sandboxUsable()) return false;
    std::optional<Pipe> errors = errorPipeFor(options);
    if (!errors) return false;
    auto [child, writes] = start(requestFor(options, output, errors->writeEnd.get()));
    errors->writeEnd.reset();
    if (!child) {
      unstartable_.noteFailedStart(options.tool);
      return false;
    }
    if (!options_.sandbox) {
      waitForExit(std::move(child));
      return true;
    }
    ErrorRelay relay(std::move(errors->readEnd));
    finishSandboxed(std::move(child), relay, Clock::now() + timeLimit());
    putInPlace(writes);
    return true;
  }

  std::unique_ptr<ShellStream> openShell(std::string_view tool,
                                         std::string_view argumentText) override {
    reapPendingChildren();
    if (!sandboxUsable()) return nullptr;
    auto pipe = makePipe(PipeSize::Large);
    if (!pipe) return nullptr;
    std::string commandLine = text::shellQuoted(tool);
    if (!argumentText.empty()) commandLine.append(" ").append(argumentText);
    // "--" keeps a command line that starts with "-" from being read as the shell's options.
    ToolRunOptions options{"/bin/sh", {"-c", "--", std::move(commandLine)}, Environment::Host};
    std::optional<Pipe> errors = errorPipeFor(options);
    if (!errors) return nullptr;
    auto [shell, writes] = start(requestFor(options, pipe->writeEnd.get(), errors->writeEnd.get()));
    pipe->writeEnd.reset();
    errors->writeEnd.reset();
    if (!shell) return nullptr;
    return std::make_unique<LiveShellStream>(
        std::move(pipe->readEnd), std::move(shell), std::move(writes),
        ErrorRelay(std::move(errors->readEnd)), Deadline(timeLimit()), options_.sandbox != nullptr);
  }

 private:
  bool sandboxUsable() const { return !options_.sandbox || options_.sandbox->usable(); }
  SandboxedChild start(const SpawnRequest& request) const {
    if (options_.sandbox) return options_.sandbox->spawn(request);
    return {spawnChild(request), nullptr};
  }
  std::chrono::milliseconds timeLimit() const {
    return options_.sandbox ? options_.timeLimit : std::chrono::milliseconds(0);
  }
  void stop(const ChildProcess& child) const {
    if (options_.sandbox) {
      killGroup(child);
    } else if (child) {
      ::kill(child.get(), SIGKILL);
    }
  }
  // A sandboxed tool's standard error goes through a relay; otherwise no pipe (both ends
  // invalid) and the stream is as the options say.
  std::optional<Pipe> errorPipeFor(const ToolRunOptions& options) const {
    if (!options_.sandbox || options.standardError != StdStream::Inherit) return Pipe{};
    // A tool's standard error is a few lines, passed on as they come.
    return makePipe(PipeSize::Default);
  }

  // As much as the last output needed, never past the cap; a reservation the system refuses
  // leaves the read to grow the string as it goes.
  void reserveRoom(std::string& output) const {
    try {
      output.reserve(std::min(sizeHint_.room(), options_.outputCap + 1));
      base::adviseHugePages(output);
    } catch (const std::bad_alloc&) {
    }
  }

  ProcessOptions options_;
  UnstartableTools unstartable_;
  OutputSizeHint sizeHint_;
};

}  // namespace

std::unique_ptr<Processes> makeHostProcesses(ProcessOptions options) {
  return std::make_unique<HostProcesses>(std::move(options));
}

}  // namespace strandel::platform::live
