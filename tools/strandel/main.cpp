// strandel: the command-line face of the library, for people and for scripts.
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>
#include <new>

#include <strandel/Machine.hpp>

#include "tools/strandel/Command.hpp"

using namespace strandel::tool;

namespace {

int usageError(const std::string& message) {
  std::fprintf(stderr, "strandel: %s\n", message.c_str());
  return 2;
}

}  // namespace

// The library answers failures with its failure values; this is the last resort for what is
// left (memory running out in the tool's own printing), so that the tool ends with one line
// rather than an abort.
int main(int argc, char** argv) try {
  CLI::App app{"strandel: what a Mac's storage looks like, from the live host or a machine image"};
  app.require_subcommand(1);
  Context context;
  std::string machineDir;
  std::string format = "text";
  app.add_option("--machine", machineDir, "answer for the machine image in the folder DIR (default: $STRANDEL_MACHINE, else the live host)")
      ->type_name("DIR");
  app.add_option("--format", format,
                 "text (for people, the default), json (one JSON value; null when there is no answer) or plist (an XML property list)")
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
  // Set after the commands are added, which would otherwise each inherit the flag and the footer.
  app.set_help_all_flag("--help-all", "Print the help of every command and exit");
  app.footer(
      "Each command prints one answer; \"strandel COMMAND --help\" tells its arguments, \"man strandel\"\n"
      "tells everything.\n"
      "\n"
      "Environment:\n"
      "  STRANDEL_MACHINE   the machine image folder when --machine is not given\n"
      "  STRANDEL_SETTINGS  the settings file where the OS version answers are cached\n"
      "                     (default: $XDG_CONFIG_HOME/strandel/strandel.plist on the live host,\n"
      "                     memory for an image)\n"
      "  STRANDEL_BUNDLE    the folder of the host application's .strings translation tables\n"
      "\n"
      "Exit status: 0 with an answer (an absent one included); 1 when image import finds nothing\n"
      "to import; 2 for a usage error or an unusable machine image, with one line on stderr.");

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
