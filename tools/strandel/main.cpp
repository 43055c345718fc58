// strandel: the command-line face of the library, for people and for scripts.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include <strandel/Machine.hpp>

#include "platform/Machine.hpp"
#include "tools/strandel/CommandLine.hpp"

namespace {

// A reader that goes away ends the tool at once and silently, as it ends cat: whatever the
// parent left blocked or ignored, SIGPIPE takes its default course. (A write that still meets
// EPIPE ends quietly too; see outputStatus.)
void dieQuietlyOnClosedPipe() {
  std::signal(SIGPIPE, SIG_DFL);
  sigset_t pipeOnly;
  sigemptyset(&pipeOnly);
  sigaddset(&pipeOnly, SIGPIPE);
  sigprocmask(SIG_UNBLOCK, &pipeOnly, nullptr);
}

}  // namespace

namespace strandel::tool {
namespace {
int runTool(int argc, char** argv);
}  // namespace
}  // namespace strandel::tool

// The library answers failures with its failure values; this is the last resort for what is
// left (memory running out in the tool's own printing), so that the tool ends with one line
// rather than an abort.
int main(int argc, char** argv) try {
  dieQuietlyOnClosedPipe();
  return strandel::tool::outputStatus(strandel::tool::runTool(argc, argv));
} catch (const std::bad_alloc&) {
  std::fputs("strandel: out of memory\n", stderr);
  return 70;
} catch (const std::exception& e) {
  std::fprintf(stderr, "strandel: %s\n", e.what());
  return 70;
} catch (...) {
  std::fputs("strandel: internal error\n", stderr);
  return 70;
}

namespace strandel::tool {
namespace {

int runTool(int argc, char** argv) {
  Context context;
  std::string machineDir;
  if (std::optional<int> done = readCommandLine(argc, argv, context, machineDir)) return *done;

  if (!context.diskFile.empty() && !machineDir.empty())
    return usageError("--disk and --machine can't be given together");
  bool fromEnvironment = false;
  if (machineDir.empty() && context.diskFile.empty()) {
    if (const char* named = std::getenv("STRANDEL_MACHINE")) machineDir = named;
    fromEnvironment = !machineDir.empty();
  }
  context.liveHost = machineDir.empty();
  context.machineDir = machineDir;
  if (!context.diskFile.empty()) {
    if (auto error = strandel::platform::useDiskImage(context.diskFile)) return usageError(*error);
  } else if (!machineDir.empty()) {
    // Never the live host instead: its answers would pass for the image's.
    if (auto error = strandel::useMachine(machineDir))
      return usageError((fromEnvironment ? "STRANDEL_MACHINE: " : "") + *error);
  } else {
    strandel::useLiveMachine();
  }
  if (!context.run) return usageError("no command given");
  try {
    return context.run();
  } catch (const UsageError& e) {
    return usageError(e.message);
  }
}

}  // namespace
}  // namespace strandel::tool
