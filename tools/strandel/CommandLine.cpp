// The command line, read with CLI11. This is the only file that includes the parser: its header
// is slow to compile and defines objects that each file including it constructs at start.
//
// A run builds only the command it names. The parser's table of every command and option
// costs more to build than the rest of a short command's start (`strandel bytes 1`), so the
// words before the command are read here first; the whole table is built for anything else
// (help, the version, no command or an unknown one), and so says the same as always.
#include "tools/strandel/CommandLine.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "tools/strandel/Cli.hpp"

#include <strandel/Version.hpp>

#include "tools/strandel/Command.hpp"

namespace strandel::tool {

// A command line of plain words: every word after the program's name is a command's name or
// an argument's value, none is an option or "--". It is read without the parser, whose table
// and option set-up cost a small command more than its answer (and whose trimming of names
// constructs the C++ locale, a third of such a start). Whatever these words don't settle as
// the parser would (a word left over or missing, a command still needed, a value that names a
// command, words passed on) is `unsettled`, and the parser then reads the line afresh.
struct PlainWords {
  std::vector<std::string_view> words;
  std::size_t next = 0;  // the first word not yet taken
  int depth = 0;         // of the deepest command the words chose so far
  int needsCommandAt = -1;
  bool unsettled = false;
  std::vector<std::string> names;        // of every command declared
  std::vector<std::string_view> values;  // the words taken as arguments (views of argv)
  std::vector<std::function<void()>> chosen;
};

bool CommandBuilder::chosen() const { return plain_ && depth_ == plain_->depth; }

bool Presence::given() const { return option_ ? option_->count() > 0 : given_; }

CommandBuilder CommandBuilder::subcommand(const std::string& name, const std::string& description) {
  if (!plain_) return CommandBuilder(*command_->add_subcommand(name, description));
  plain_->names.push_back(name);
  // A command's words are taken as it is declared, so only the deepest command chosen so far
  // may choose one below it: a sibling declared later never sees the words after the first.
  if (!chosen() || plain_->next == plain_->words.size() || plain_->words[plain_->next] != name)
    return CommandBuilder(*plain_, -1);
  if (!plain_->values.empty()) plain_->unsettled = true;  // arguments before a command
  ++plain_->next;
  return CommandBuilder(*plain_, ++plain_->depth);
}

void CommandBuilder::requireSubcommand() {
  if (!plain_) {
    command_->require_subcommand(1);
  } else if (chosen()) {
    plain_->needsCommandAt = depth_;
  }
}

void CommandBuilder::argument(const std::string& name, std::string& value,
                              const std::string& help) {
  if (!plain_) {
    command_->add_option(name, value, help)->required();
  } else if (chosen()) {
    if (plain_->next == plain_->words.size()) {
      plain_->unsettled = true;
    } else {
      plain_->values.push_back(plain_->words[plain_->next++]);
      value = plain_->values.back();
    }
  }
}

Presence CommandBuilder::optionalArgument(const std::string& name, std::string& value,
                                          const std::string& help) {
  if (!plain_) return Presence(*command_->add_option(name, value, help));
  if (!chosen() || plain_->next == plain_->words.size()) return Presence(false);
  plain_->values.push_back(plain_->words[plain_->next++]);
  value = plain_->values.back();
  return Presence(true);
}

void CommandBuilder::option(const std::string& names, std::string& value, const std::string& help,
                            const std::string& valueName) {
  if (!plain_) command_->add_option(names, value, help)->type_name(valueName);
}

void CommandBuilder::flag(const std::string& names, bool& value, const std::string& help) {
  if (!plain_) command_->add_flag(names, value, help);
}

void CommandBuilder::exclusive(const std::string& first, const std::string& second) {
  if (!plain_) command_->get_option(first)->excludes(command_->get_option(second));
}

void CommandBuilder::passWordsOn() {
  if (plain_) {
    if (chosen()) plain_->unsettled = true;
    return;
  }
  // The words are split off before parsing (see passedOnWords); a prefix command leaves any
  // that still reach it alone, and it has no --help of its own.
  command_->prefix_command();
  command_->set_help_flag();
}

void CommandBuilder::footer(const std::string& text) {
  if (!plain_) command_->footer(text);
}

void CommandBuilder::onChosen(std::function<void()> chosen) {
  if (!plain_) {
    command_->callback(std::move(chosen));
  } else if (this->chosen()) {
    plain_->chosen.push_back(std::move(chosen));
  }
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

// The output forms --format names.
constexpr std::pair<std::string_view, Format> kFormats[] = {
    {"text", Format::Text}, {"json", Format::Json}, {"plist", Format::Plist}};

std::optional<Format> formatNamed(std::string_view name) {
  for (const auto& [known, format] : kFormats)
    if (name == known) return format;
  return std::nullopt;
}

std::vector<std::string> formatNames() {
  std::vector<std::string> names;
  for (const auto& entry : kFormats) names.emplace_back(entry.first);
  return names;
}

// The global options a plain command line may start with, each given once with a value.
struct PlainGlobals {
  std::optional<std::string_view> machine;
  std::optional<std::string_view> disk;
  std::optional<std::string_view> format;
};

// Takes the global options before the command, from argv[*i] on; false for anything else that
// starts with "-", for an option given twice or without a value, and for a format not known:
// the parser says what is wrong with those.
bool readPlainGlobals(int argc, char** argv, int* i, PlainGlobals& globals) {
  for (; *i < argc && std::string_view(argv[*i]).starts_with('-'); ++*i) {
    std::string_view word = argv[*i];
    std::optional<std::string_view> value;
    if (std::size_t equals = word.find('='); equals != std::string_view::npos) {
      value = word.substr(equals + 1);
      word = word.substr(0, equals);
    } else if (*i + 1 < argc && !std::string_view(argv[*i + 1]).starts_with('-')) {
      value = argv[++*i];
    }
    std::optional<std::string_view>* slot = word == "--machine"  ? &globals.machine
                                            : word == "--disk"   ? &globals.disk
                                            : word == "--format" ? &globals.format
                                                                 : nullptr;
    // The parser takes no command's name as an option's value.
    if (!slot || *slot || !value || value->empty() || familyNamed(*value)) return false;
    *slot = value;
  }
  return !globals.format || formatNamed(*globals.format);
}

// Reads a command line of plain words with only the family its command names declared. Gives
// whether the words settled it; the chosen command's callbacks have run then.
bool readPlainWords(int argc, char** argv, Context& context, std::string& machineDir) {
  int i = 1;
  PlainGlobals globals;
  if (!readPlainGlobals(argc, argv, &i, globals)) return false;
  const Family* family = i < argc ? familyNamed(argv[i]) : nullptr;
  if (!family) return false;
  PlainWords plain;
  for (; i < argc; ++i) {
    std::string_view word = argv[i];
    if (word.starts_with('-')) return false;
    plain.words.push_back(word);
  }
  CommandBuilder tool(plain, 0);
  family->add(tool, context);
  if (plain.unsettled || plain.next != plain.words.size() || plain.needsCommandAt == plain.depth ||
      plain.chosen.empty())
    return false;
  // The parser takes a word that names a command as that command, wherever it stands.
  for (std::string_view value : plain.values) {
    if (familyNamed(value) ||
        std::find(plain.names.begin(), plain.names.end(), value) != plain.names.end())
      return false;
  }
  if (globals.machine) machineDir = *globals.machine;
  if (globals.disk) context.diskFile = *globals.disk;
  context.format = globals.format ? *formatNamed(*globals.format) : Format::Text;
  for (const std::function<void()>& chosen : plain.chosen) chosen();
  return true;
}

}  // namespace

std::optional<int> readCommandLine(int argc, char** argv, Context& context,
                                   std::string& machineDir) {
  try {
    if (readPlainWords(argc, argv, context, machineDir)) return std::nullopt;
  } catch (const UsageError& e) {
    return usageError(e.message);
  }
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
      ->check(CLI::IsMember(formatNames()));

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
  context.format = *formatNamed(format);
  return std::nullopt;
}

}  // namespace strandel::tool
