// The command line, read with CLI11. This is the only file that includes the parser: its header
// is slow to compile and defines objects that each file including it constructs at start.
//
// A run builds only the command it names. The parser's table of every command and option
// costs more to build than the rest of a short command's start (`strandel bytes 1`), so the
// words before the command are read here first; the whole table is built for anything else
// (help, the version, no command or an unknown one), and so says the same as always.
#include "tools/strandel/CommandLine.hpp"

#include <cstdio>
#include <cstring>
#include <string_view>

#include <CLI/CLI.hpp>

#include <strandel/Version.hpp>

#include "tools/strandel/Command.hpp"

namespace strandel::tool {

bool Presence::given() const { return option_->count() > 0; }

CommandBuilder CommandBuilder::subcommand(const std::string& name, const std::string& description) {
  return CommandBuilder(*command_->add_subcommand(name, description));
}

void CommandBuilder::requireSubcommand() { command_->require_subcommand(1); }

void CommandBuilder::argument(const std::string& name, std::string& value,
                              const std::string& help) {
  command_->add_option(name, value, help)->required();
}

Presence CommandBuilder::optionalArgument(const std::string& name, std::string& value,
                                          const std::string& help) {
  return Presence(*command_->add_option(name, value, help));
}

void CommandBuilder::option(const std::string& names, std::string& value, const std::string& help,
                            const std::string& valueName) {
  command_->add_option(names, value, help)->type_name(valueName);
}

void CommandBuilder::flag(const std::string& names, bool& value, const std::string& help) {
  command_->add_flag(names, value, help);
}

void CommandBuilder::exclusive(const std::string& first, const std::string& second) {
  command_->get_option(first)->excludes(command_->get_option(second));
}

void CommandBuilder::passWordsOn() {
  // The words are split off before parsing (see passedOnWords); a prefix command leaves any
  // that still reach it alone, and it has no --help of its own.
  command_->prefix_command();
  command_->set_help_flag();
}

void CommandBuilder::footer(const std::string& text) { command_->footer(text); }

void CommandBuilder::onChosen(std::function<void()> chosen) {
  command_->callback(std::move(chosen));
}

namespace {

// The commands, in the order the help lists them, with the names each family adds. A name
// missing here costs only speed: a word that is no name here builds the whole table.
struct Family {
  const char* names[3];
  void (*add)(CommandBuilder& tool, Context& context);
};

const Family kFamilies[] = {
    {{"registry"}, addRegistryCommand},
    {{"volumes", "container-members", "is-network-backup"}, addVolumesCommands},
    {{"apfs"}, addApfsCommand},
    {{"os"}, addOsCommand},
    {{"mount"}, addMountCommand},
    {{"size"}, addSizeCommand},
    {{"bytes"}, addBytesCommand},
    {{"verify"}, addVerifyCommand},
    {{"tmutil"}, addTmutilCommand},
    {{"fda"}, addFdaCommand},
    {{"image"}, addImageCommand},
};

const Family* familyNamed(std::string_view word) {
  for (const Family& family : kFamilies) {
    for (const char* name : family.names) {
      if (name && word == name) return &family;
    }
  }
  return nullptr;
}

bool isGlobalOptionWithValue(std::string_view word) {
  return word == "--machine" || word == "--format" || word == "--disk";
}

// The one family a command line needs: its first word that is no global option or value names
// it, only global options come before it, and no word after it names another command (which
// the parser would weigh against the whole table). Null when the whole table is needed.
const Family* onlyFamilyNeeded(int argc, char** argv) {
  int i = 1;
  while (i < argc && std::string_view(argv[i]).starts_with('-')) {
    std::string_view word = argv[i];
    if (word.starts_with("--machine=") || word.starts_with("--format=") ||
        word.starts_with("--disk=")) {
      ++i;
    } else if (isGlobalOptionWithValue(word) && i + 1 < argc &&
               !std::string_view(argv[i + 1]).starts_with('-')) {
      i += 2;
    } else {
      return nullptr;
    }
  }
  if (i == argc) return nullptr;
  const Family* chosen = familyNamed(argv[i]);
  if (!chosen) return nullptr;
  for (int j = i + 1; j < argc; ++j) {
    const Family* other = familyNamed(argv[j]);
    if (other && other != chosen) return nullptr;
  }
  return chosen;
}

// A command left out or not known, said in the tool's words rather than the parser's: the
// parser only knows that a subcommand was required.
std::optional<std::string> missingCommand(const CLI::App& app) {
  std::vector<const CLI::App*> chain = {&app};
  std::string path;
  while (!chain.back()->get_subcommands().empty()) {
    chain.push_back(chain.back()->get_subcommands().front());
    path += chain.back()->get_name() + " ";
  }
  const CLI::App* deepest = chain.back();
  if (deepest->get_require_subcommand_min() == 0 || !deepest->get_subcommands().empty())
    return std::nullopt;
  // A word no command knows falls through to the nearest command above that keeps it.
  std::vector<std::string> rest;
  for (auto command = chain.rbegin(); command != chain.rend() && rest.empty(); ++command)
    rest = (*command)->remaining();
  if (!rest.empty()) {
    return rest.front().starts_with('-') ? "unknown option '" + rest.front() + "'"
                                         : "unknown command '" + path + rest.front() + "'";
  }
  std::string names;
  for (const CLI::App* command : deepest->get_subcommands({}))
    names += (names.empty() ? "" : ", ") + command->get_name();
  return (path.empty() ? std::string("a command is needed") : path + "needs a command") +
         ": one of " + names;
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
    auto commands = app.get_subcommands(
        [word](const CLI::App* command) { return command->get_name() == word; });
    if (commands.empty() || !commands.front()->get_prefix_command()) return argc;
    int rest = i + 1;
    if (rest < argc && std::string_view(argv[rest]) == "--") ++rest;
    passedOn.assign(argv + rest, argv + argc);
    return i + 1;
  }
  return argc;
}

}  // namespace

std::optional<int> readCommandLine(int argc, char** argv, Context& context,
                                   std::string& machineDir) {
  CLI::App app{"strandel: what a Mac's storage looks like, from the live host or a machine image"};
  app.require_subcommand(1);
  std::string format = "text";
  app.add_option("--machine", machineDir,
                 "answer for the machine image in the folder DIR (default: $STRANDEL_MACHINE, else "
                 "the live host)")
      ->type_name("DIR");
  app.add_option("--disk", context.diskFile,
                 "answer as the live host whose only disk is FILE (a raw disk image or bare APFS "
                 "container; read, never written)")
      ->type_name("FILE");
  app.add_option("--format", format,
                 "text (for people, the default), json (one JSON value; null when there is no "
                 "answer) or plist (an XML property list)")
      ->check(CLI::IsMember({"text", "json", "plist"}));

  // The global options may come after the command too (`strandel volumes --format json`), as a
  // user adds them at the end of a line recalled from history; every command inherits this.
  app.fallthrough();
  CommandBuilder tool(app);
  if (const Family* only = onlyFamilyNeeded(argc, argv)) {
    only->add(tool, context);
  } else {
    for (const Family& family : kFamilies) family.add(tool, context);
  }
  // Set after the commands are added, which would otherwise each inherit the flag and the footer.
  app.set_help_all_flag("--help-all", "Print the help of every command and exit");
  app.set_version_flag("--version", std::string("strandel ") + STRANDEL_VERSION,
                       "Print the version and exit");
  app.footer(
      "Each command prints one answer; \"strandel COMMAND --help\" tells its arguments, \"man "
      "strandel\"\n"
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
      "Exit status: 0 with an answer (an empty or absent one included); 1 when the device, mount\n"
      "point or path named is not on the machine (JSON and plist still print the answer), when "
      "image\n"
      "import finds nothing to import or stdout can't be written; 2 for a usage error or an "
      "unusable\n"
      "machine image. Each error is one line on stderr.");

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
  context.format = format == "json"    ? Format::Json
                   : format == "plist" ? Format::Plist
                                       : Format::Text;
  return std::nullopt;
}

}  // namespace strandel::tool
