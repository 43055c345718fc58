// strandel tmutil ARG...: the Time Machine tool's output as a property-list value.
#include <memory>
#include <string>
#include <vector>

#include <strandel/Strandel.hpp>

#include "tools/strandel/Command.hpp"

namespace strandel::tool {

void addTmutilCommand(CommandBuilder& tool, Context& context) {
  CommandBuilder command =
      tool.subcommand("tmutil",
                      "run the Time Machine tool with ARG... unchanged (options and --help "
                      "included: they are the tool's) and show its output parsed as a property "
                      "list, null when it is none; ask for -X output, as in \"tmutil status -X\"");
  // Every argument belongs to the tool, options included ("destinationinfo -X", even "-h"):
  // the words after the command are not parsed at all (see passedOnWords in main).
  command.passWordsOn();
  command.onChosen([&context] {
    auto arguments = std::make_shared<std::vector<std::string>>(context.passedOn);
    context.run = [&context, arguments] {
      return printAnswer(context, strandel::tmutil(*arguments));
    };
  });
}

}  // namespace strandel::tool
