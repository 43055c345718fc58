// What every command of the tool shares: the chosen output format and how an answer is shown.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <strandel/PlistValue.hpp>

#include "tools/strandel/CommandBuilder.hpp"

namespace strandel::tool {

enum class Format { Text, Json, Plist };

struct Context {
  Format format = Format::Text;
  bool liveHost = false;   // no machine image was chosen
  std::string diskFile;    // --disk: a disk image file standing in for the host's disks
  std::string machineDir;  // the machine image's folder, "" on the live host
  // The words after a command that takes them all as they stand (a prefix command: tmutil),
  // a first "--" left out.
  std::vector<std::string> passedOn;
  // Set by the chosen command while the arguments are parsed; run once the machine is chosen.
  std::function<int()> run;
};

/// A usage error found by a command after parsing: the message goes out as one line, exit 2.
struct UsageError {
  std::string message;
};

/// Says `message` in one line on stderr after "strandel: ", its control characters escaped: a
/// message may quote an image's or a dump's text.
void sayError(std::string_view message);

/// Says `message` in one line on stderr and gives the exit status of a usage error, 2.
int usageError(const std::string& message);

/// Shows an answer in the chosen format and gives the exit status 0. `text` renders it for
/// people, escaping any outside text it shows; without it a string or number is printed
/// plainly, control characters escaped, and anything else as JSON.
/// An absent answer prints `null` in JSON, an empty document in plist, nothing in text. `json`,
/// when given, writes the answer's JSON instead of writeJson (a table's rows keep their
/// columns' order, which a dictionary does not).
int printAnswer(const Context& context, const std::optional<PlistValue>& answer,
                const std::function<std::string(const PlistValue&)>& text = {},
                const std::function<std::string(const PlistValue&)>& json = {});

/// Writes to standard output and flushes, so that a transcript shows as it comes. The first
/// failure is kept for `outputStatus`; later writes are not tried.
void writeOut(std::string_view text);

/// The exit status once everything is written: `status` when standard output took it all,
/// else 1 with one line on stderr. A reader that went away (a closed pipe) ends the tool
/// quietly, as it ends the file utilities.
int outputStatus(int status);

/// What a command may need of the live host that a Linux host does not have.
enum class HostService { DiskRegistry, VersionTool };

/// On the live host, says in one line on stderr that `service` is missing when it is, so that
/// an empty answer is not taken for a Mac's. Silent for a machine image.
void noteMissingHostService(const Context& context, HostService service);

// One function per command family, each adding its subcommands to the tool.
void addRegistryCommand(CommandBuilder& tool, Context& context);
void addVolumesCommands(CommandBuilder& tool,
                        Context& context);  // volumes, container-members, is-network-backup
void addApfsCommand(CommandBuilder& tool, Context& context);
void addOsCommand(CommandBuilder& tool, Context& context);
void addMountCommand(CommandBuilder& tool, Context& context);
void addSizeCommand(CommandBuilder& tool, Context& context);
void addBytesCommand(CommandBuilder& tool, Context& context);
void addVerifyCommand(CommandBuilder& tool, Context& context);
void addTmutilCommand(CommandBuilder& tool, Context& context);
void addFdaCommand(CommandBuilder& tool, Context& context);
void addImageCommand(CommandBuilder& tool, Context& context);  // image import, image guesses

}  // namespace strandel::tool
