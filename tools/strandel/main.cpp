// strandel: the command-line face of the library, for people and for scripts.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include <strandel/Machine.hpp>

#include "tools/strandel/Command.hpp"
#include "tools/strandel/Table.hpp"

using namespace strandel::tool;

namespace {

// The project's version, which the build hands over.
constexpr const char* kVersion = STRANDEL_TOOL_VERSION;

int usageError(const std::string& message) {
  std::fprintf(stderr, "strandel: %s\n", message.c_str());
  return 2;
}

// A command left out or not known, said in the tool's words rather than the parser's: the
// parser only knows that a subcommand was required.
std::optional<std::string> missingCommand(const CLI::App& app) {
  const CLI::App* deepest = &app;
  std::string path;
  while (!deepest->get_subcommands().empty()) {
    deepest = deepest->get_subcommands().front();
    path += deepest->get_name() + " ";
  }
  if (deepest->get_require_subcommand_min() == 0 || !deepest->get_subcommands().empty()) return std::nullopt;
  std::vector<std::string> rest = deepest->remaining();
  if (!rest.empty()) {
    return rest.front().starts_with('-') ? "unknown option '" + rest.front() + "'"
                                          : "unknown command '" + path + rest.front() + "'";
  }
  std::string names;
  for (const CLI::App* command : deepest->get_subcommands({})) names += (names.empty() ? "" : ", ") + command->get_name();
  return (path.empty() ? std::string("a command is needed") : path + "needs a command") + ": one of " + names;
}

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

// Splits off the words after a prefix command (tmutil), which are its tool's alone: the parser
// would still read "--" and options of its own among them. Gives the count of words to parse.
int passedOnWords(const CLI::App& app, int argc, char** argv, std::vector<std::string>& passedOn) {
  for (int i = 1; i < argc; ++i) {
    std::string_view word = argv[i];
    if (word.starts_with('-')) {
      const CLI::Option* option = app.get_option_no_throw(std::string(word));
      if (option && option->get_type_size_min() > 0) ++i;  // its value
      continue;
    }
    auto commands = app.get_subcommands([word](const CLI::App* command) { return command->get_name() == word; });
    if (commands.empty() || !commands.front()->get_prefix_command()) return argc;
    int rest = i + 1;
    if (rest < argc && std::string_view(argv[rest]) == "--") ++rest;
    passedOn.assign(argv + rest, argv + argc);
    return i + 1;
  }
  return argc;
}

int runTool(int argc, char** argv);

}  // namespace

// The library answers failures with its failure values; this is the last resort for what is
// left (memory running out in the tool's own printing), so that the tool ends with one line
// rather than an abort.
int main(int argc, char** argv) try {
  dieQuietlyOnClosedPipe();
  useUtf8CharacterType();
  return outputStatus(runTool(argc, argv));
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

namespace {

int runTool(int argc, char** argv) {
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
  app.set_version_flag("--version", std::string("strandel ") + kVersion, "Print the version and exit");
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
      "  COLUMNS            the width a table fits when stdout is not a terminal (default: whole)\n"
      "\n"
      "Exit status: 0 with an answer (an absent one included); 1 when image import finds nothing\n"
      "to import or stdout can't be written; 2 for a usage error or an unusable machine image, with\n"
      "one line on stderr.");

  try {
    app.parse(passedOnWords(app, argc, argv, context.passedOn), argv);
  } catch (const CLI::CallForHelp&) {
    writeOut(app.help());
    return 0;
  } catch (const CLI::CallForAllHelp&) {
    writeOut(app.help("", CLI::AppFormatMode::All));
    return 0;
  } catch (const CLI::CallForVersion& e) {
    writeOut(std::string(e.what()) + "\n");
    return 0;
  } catch (const CLI::RequiredError& e) {
    return usageError(missingCommand(app).value_or(e.what()));
  } catch (const CLI::ParseError& e) {
    return usageError(e.what());
  } catch (const UsageError& e) {
    return usageError(e.message);
  }
  context.format = format == "json" ? Format::Json : format == "plist" ? Format::Plist : Format::Text;

  if (machineDir.empty()) {
    if (const char* fromEnvironment = std::getenv("STRANDEL_MACHINE")) machineDir = fromEnvironment;
  }
  context.liveHost = machineDir.empty();
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

}  // namespace
