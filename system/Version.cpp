// The running OS version: its text and its report, each produced once by the version tool and
// kept for good in the host application's settings, and the comparison that gates the other
// subsystems.
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "system/Version.hpp"

#include "platform/Machine.hpp"
#include "system/VersionCompare.hpp"
#include "system/VersionReport.hpp"

namespace strandel::system {
namespace {

constexpr std::string_view kVersionKey = "ZVCurrentSWVers";
constexpr std::string_view kDictionaryKey = "ZVCurrentSWVersDict";

std::optional<std::string> runVersionTool(platform::Machine& machine,
                                          std::vector<std::string> arguments) {
  platform::ToolRunOptions options;
  options.tool = "/usr/bin/sw_vers";
  options.arguments = std::move(arguments);
  options.environment = platform::Environment::Empty;
  auto output = machine.processes().runTool(options);
  if (!output) return std::nullopt;
  return std::move(output->bytes);
}

std::optional<std::string> currentSystemString(platform::Machine& machine) {
  if (auto cached = machine.settings().get(kVersionKey)) {
    if (const std::string* text = cached->asString()) return *text;
  }
  // A version tool that can't be started at all (the live Linux host has none) gives no
  // answer, and nothing is stored: a cached failure would stick for good, even once a tool is
  // there. Whatever a started tool prints, "" included, is the answer and is kept.
  auto bytes = runVersionTool(machine, {"-productVersion"});
  if (!bytes) return std::nullopt;
  std::string version = versionFromToolOutput(*bytes);
  // A store that can't be written costs a tool run on the next call, nothing more.
  machine.settings().set(kVersionKey, PlistValue(version));
  return version;
}

}  // namespace

std::optional<std::string> currentVersion() { return currentSystemString(*platform::current()); }

PlistDict currentVersionDictionary() {
  auto machine = platform::current();
  if (auto cached = machine->settings().get(kDictionaryKey)) {
    if (PlistDict* dictionary = cached->asDictionary()) return std::move(*dictionary);
  }
  // As for the version text: without a tool to start, the answer is an empty dictionary that is
  // neither logged nor stored, so that a later call can still ask a tool that has appeared.
  auto bytes = runVersionTool(*machine, {});
  if (!bytes) return {};
  PlistDict dictionary = versionDictionaryFromToolOutput(*bytes);
  // The one log line of the library. The old-style property-list text is how the platform's
  // log shows a dictionary; it is kept on one line so that the log stays one entry per line.
  machine->log().write(describeForLog(dictionary));
  machine->settings().set(kDictionaryKey, PlistValue(dictionary));
  return dictionary;
}

std::int64_t compareCurrentVersionWith(std::optional<std::string_view> version) {
  // The running version is read first, whatever the argument: on a cold cache the tool runs and
  // its answer is stored even when the argument then makes the answer 0.
  auto machine = platform::current();
  // The warm path compares against the stored text where it lies, without a copy of it; the
  // tool runs only while the store holds no version text.
  std::optional<PlistValue> cached = machine->settings().get(kVersionKey);
  const std::string* running = cached ? cached->asString() : nullptr;
  std::optional<std::string> fresh;
  if (!running) {
    fresh = currentSystemString(*machine);
    if (!fresh) return 0;
    running = &*fresh;
  }
  if (!version || version->empty()) return 0;
  return compareVersionTexts(*running, trimVersionArgument(*version));
}

}  // namespace strandel::system
