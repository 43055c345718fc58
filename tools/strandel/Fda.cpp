// strandel fda: whether Full Disk Access is set up for the application and its helpers.
#include <strandel/Strandel.hpp>

#include "tools/strandel/Command.hpp"

namespace strandel::tool {

void addFdaCommand(CommandBuilder& tool, Context& context) {
  CommandBuilder command = tool.subcommand(
      "fda",
      "whether the application, its background tool and the Rundle agent hold Full Disk Access");
  command.onChosen([&context] {
    context.run = [&context] {
      return printAnswer(context, PlistValue(strandel::isFullDiskAccessSetup()));
    };
  });
}

}  // namespace strandel::tool
