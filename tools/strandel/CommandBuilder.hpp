// How a command declares its arguments, options and subcommands. The parser behind it
// (CLI11) is one large header: only CommandLine.cpp includes it, so that each command's file
// compiles without it and the tool constructs its static objects once. A command line of plain
// words is read without the parser (PlainWords, in CommandLine.cpp): the same declarations
// take their words straight from it.
#pragma once

#include <functional>
#include <string>

namespace CLI {
class App;
class Option;
}  // namespace CLI

namespace strandel::tool {

struct PlainWords;

/// Whether an argument that may be left out was given ("" given is given).
class Presence {
 public:
  bool given() const;

 private:
  friend class CommandBuilder;
  explicit Presence(const CLI::Option& option) : option_(&option) {}
  explicit Presence(bool given) : given_(given) {}
  const CLI::Option* option_ = nullptr;
  bool given_ = false;  // read from plain words, known as soon as declared
};

/// One command being declared. The values it fills belong to the caller and must outlive the
/// parse (the commands keep them in shared pointers that their callbacks hold).
class CommandBuilder {
 public:
  explicit CommandBuilder(CLI::App& command) : command_(&command) {}
  /// Reads `words` as the command at `depth` (0: the tool); -1 is a command the words did not
  /// choose, whose declarations do nothing.
  CommandBuilder(PlainWords& words, int depth) : plain_(&words), depth_(depth) {}

  /// A command below this one, which the help lists under `description`.
  CommandBuilder subcommand(const std::string& name, const std::string& description);
  /// One of this command's subcommands must follow it.
  void requireSubcommand();
  /// A word that must be given, in the order of declaration.
  void argument(const std::string& name, std::string& value, const std::string& help);
  /// A word that may be left out; `value` keeps its text when it is.
  Presence optionalArgument(const std::string& name, std::string& value, const std::string& help);
  /// An option with a value, `names` as "-o,--output"; the help shows its value as `valueName`.
  void option(const std::string& names, std::string& value, const std::string& help,
              const std::string& valueName);
  void flag(const std::string& names, bool& value, const std::string& help);
  /// Two options, by their long names, that can't be given together.
  void exclusive(const std::string& first, const std::string& second);
  /// Every word after the command is its own (options and --help included) and is not parsed:
  /// it reaches the command as Context::passedOn.
  void passWordsOn();
  /// Text that the command's help shows below its options.
  void footer(const std::string& text);
  /// Runs when the command is chosen and its words parsed; it may throw UsageError.
  void onChosen(std::function<void()> chosen);

 private:
  bool chosen() const;

  CLI::App* command_ = nullptr;
  PlainWords* plain_ = nullptr;
  int depth_ = -1;
};

}  // namespace strandel::tool
