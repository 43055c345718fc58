// strandel os: the running OS version facts.
#include <memory>
#include <string>

#include <strandel/Strandel.hpp>

#include "tools/strandel/Command.hpp"

namespace strandel::tool {
namespace {

// For people: one "label: value" line per entry, in the order of the labels.
std::string labelLines(const PlistValue& info) {
  std::string out;
  if (const PlistDict* dict = info.asDictionary()) {
    for (const auto& [label, value] : *dict) {
      const std::string* text = value.asString();
      out += label + ": " + (text ? *text : writeJson(value)) + "\n";
    }
  }
  return out;
}

}  // namespace

void addOsCommand(CLI::App& app, Context& context) {
  CLI::App* os = app.add_subcommand("os", "the running OS version facts");
  os->require_subcommand(1);

  os->add_subcommand("version", "the running OS version text, such as 26.0 (null when the version tool can't be started)")->callback([&context] {
    context.run = [&context] {
      noteMissingHostService(context, HostService::VersionTool);
      auto version = ZVGetCurrentSystemString();
      return printAnswer(context, version ? std::optional<PlistValue>(std::move(*version)) : std::nullopt);
    };
  });

  os->add_subcommand("info", "the version tool's report, label to value; the first report of a settings store is also logged to stderr")->callback([&context] {
    context.run = [&context] {
      noteMissingHostService(context, HostService::VersionTool);
      return printAnswer(context, PlistValue(ZVGetCurrentSystemDictionary()), labelLines);
    };
  });

  auto version = std::make_shared<std::string>();
  CLI::App* compare = os->add_subcommand(
      "compare", "-1, 0 or 1 as the running OS is older than, the same as or newer than VERSION");
  CLI::Option* given = compare->add_option("VERSION", *version, "a version such as 10.13 (digit runs compare by value); left out or \"\": the answer is 0");
  compare->callback([&context, version, given] {
    // Left out is absent, and "" is the empty text: the comparison tells the two apart.
    std::optional<std::string> argument;
    if (given->count() > 0) argument = *version;
    context.run = [&context, argument] {
      noteMissingHostService(context, HostService::VersionTool);
      std::optional<std::string_view> view;
      if (argument) view = *argument;
      return printAnswer(context, PlistValue(ZVCompareCurrentSystemVersionWith(view)));
    };
  });
}

}  // namespace strandel::tool
