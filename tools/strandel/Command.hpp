// What every command of the tool shares: the chosen output format and how an answer is shown.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include <CLI/CLI.hpp>

#include <strandel/PlistValue.hpp>

namespace strandel::tool {

enum class Format { Text, Json, Plist };

struct Context {
  Format format = Format::Text;
  // Set by the chosen command while the arguments are parsed; run once the machine is chosen.
  std::function<int()> run;
};

/// A usage error found by a command after parsing: the message goes out as one line, exit 2.
struct UsageError {
  std::string message;
};

/// Shows an answer in the chosen format and gives the exit status 0. `text` renders it for
/// people; without it a string or number is printed plainly and anything else as JSON.
/// An absent answer prints `null` in JSON, an empty document in plist, nothing in text.
int printAnswer(const Context& context, const std::optional<PlistValue>& answer,
                const std::function<std::string(const PlistValue&)>& text = {});

// One function per command family, each adding its subcommands to the tool.
void addRegistryCommand(CLI::App& app, Context& context);
void addVolumesCommands(CLI::App& app, Context& context);   // volumes, container-members, is-network-backup
void addApfsCommand(CLI::App& app, Context& context);
void addOsCommand(CLI::App& app, Context& context);
void addMountCommand(CLI::App& app, Context& context);
void addSizeCommand(CLI::App& app, Context& context);
void addBytesCommand(CLI::App& app, Context& context);
void addVerifyCommand(CLI::App& app, Context& context);
void addTmutilCommand(CLI::App& app, Context& context);
void addFdaCommand(CLI::App& app, Context& context);
void addImageCommand(CLI::App& app, Context& context);  // image import

}  // namespace strandel::tool
