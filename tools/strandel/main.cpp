// strandel: the command-line face of the library, for people and for scripts.
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>

#include <strandel/Machine.hpp>

#include "tools/strandel/Command.hpp"

using namespace strandel::tool;

namespace {

int usageError(const std::string& message) {
  std::fprintf(stderr, "strandel: %s\n", message.c_str());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"strandel: what a Mac's storage looks like, from the live host or a machine image"};
  app.require_subcommand(1);
  Context context;
  std::string machineDir;
  std::string format = "text";
  app.add_option("--machine", machineDir, "a machine image folder (default: $STRANDEL_MACHINE, else the live host)");
  app.add_option("--format", format, "text (for people), json or plist")
      ->check(CLI::IsMember({"text", "json", "plist"}));

  addRegistryCommand(app, context);
  addVolumesCommands(app, context);
  addApfsCommand(app, context);
  addOsCommand(app, context);
  addMountCommand(app, context);
  addSizeCommand(app, context);
  addBytesCommand(app, context);
  addVerifyCommand(app, context);
  addTmutilCommand(app, context);
  addFdaCommand(app, context);
  addImageCommand(app, context);

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::cout << app.help();
    return 0;
  } catch (const CLI::CallForAllHelp&) {
    std::cout << app.help("", CLI::AppFormatMode::All);
    return 0;
  } catch (const CLI::ParseError& e) {
    return usageError(e.what());
  } catch (const UsageError& e) {
    return usageError(e.message);
  }
  context.format = format == "json" ? Format::Json : format == "plist" ? Format::Plist : Format::Text;

  if (machineDir.empty()) {
    if (const char* fromEnvironment = std::getenv("STRANDEL_MACHINE")) machineDir = fromEnvironment;
  }
  if (!machineDir.empty()) {
    if (auto error = strandel::useMachine(machineDir)) return usageError(*error);
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
