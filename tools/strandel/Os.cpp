// strandel os: the running OS version facts.
#include <memory>
#include <string>

#include <strandel/Strandel.hpp>

#include "text/ControlEscape.hpp"
#include "tools/strandel/Command.hpp"

namespace strandel::tool {
namespace {

// For people: one "label: value" line per entry, in the order of the labels. Both are the
// version tool's text, which an image writes.
std::string labelLines(const PlistValue& info) {
  std::string out;
  if (const PlistDict* dict = info.asDictionary()) {
    for (const auto& [label, value] : *dict) {
      const std::string* text = value.asString();
      out += text::escapedControls(label, text::LineBreaks::Escape) + ": " +
             text::escapedControls(text ? *text : writeJson(value), text::LineBreaks::Escape) +
             "\n";
    }
  }
  return out;
}

}  // namespace

void addOsCommand(CommandBuilder& tool, Context& context) {
  CommandBuilder os = tool.subcommand("os", "the running OS version facts");
  os.requireSubcommand();

  os.subcommand(
        "version",
        "the running OS version text, such as 26.0 (null when the version tool can't be started)")
      .onChosen([&context] {
        context.run = [&context] {
          noteMissingHostService(context, HostService::VersionTool);
          auto version = ZVGetCurrentSystemString();
          return printAnswer(
              context, version ? std::optional<PlistValue>(std::move(*version)) : std::nullopt);
        };
      });

  os.subcommand("info",
                "the version tool's report, label to value; the first report of a settings store "
                "is also logged to stderr")
      .onChosen([&context] {
        context.run = [&context] {
          noteMissingHostService(context, HostService::VersionTool);
          return printAnswer(context, PlistValue(ZVGetCurrentSystemDictionary()), labelLines);
        };
      });

  auto version = std::make_shared<std::string>();
  CommandBuilder compare = os.subcommand(
      "compare", "-1, 0 or 1 as the running OS is older than, the same as or newer than VERSION");
  Presence given = compare.optionalArgument(
      "VERSION", *version,
      "a version such as 10.13 (digit runs compare by value); left out or \"\": the answer is 0");
  compare.onChosen([&context, version, given] {
    // Left out is absent, and "" is the empty text: the comparison tells the two apart.
    std::optional<std::string> argument;
    if (given.given()) argument = *version;
    context.run = [&context, argument] {
      noteMissingHostService(context, HostService::VersionTool);
      std::optional<std::string_view> view;
      if (argument) view = *argument;
      return printAnswer(context, PlistValue(ZVCompareCurrentSystemVersionWith(view)));
    };
  });
}

}  // namespace strandel::tool
