#include "tools/strandel/import/Transcript.hpp"

#include <optional>

#include "tools/strandel/import/BsdName.hpp"
#include "tools/strandel/import/Dump.hpp"

namespace strandel::importer {
namespace {

std::vector<std::string_view> words(std::string_view text) {
  std::vector<std::string_view> out;
  while (!text.empty()) {
    std::size_t start = text.find_first_not_of(" \t");
    if (start == std::string_view::npos) break;
    text.remove_prefix(start);
    std::size_t end = text.find_first_of(" \t");
    out.push_back(text.substr(0, end));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end);
  }
  return out;
}

bool has(const std::vector<std::string_view>& args, std::string_view word) {
  for (std::string_view a : args) {
    if (a == word) return true;
  }
  return false;
}

// The dump file that a command's output belongs in: "" for a command no recording is made of,
// nothing for a line that is no command.
std::optional<std::string> fileOf(const std::vector<std::string_view>& command) {
  if (command.empty()) return std::nullopt;
  std::string_view program = command[0];
  if (std::size_t slash = program.rfind('/'); slash != std::string_view::npos)
    program.remove_prefix(slash + 1);
  std::vector<std::string_view> args(command.begin() + 1, command.end());
  // A word that is neither an option nor a disk is text, not a command ("mount point", "df ree").
  if (program == "diskutil" && !args.empty()) {
    if (args[0] == "list") return std::string(dumpfile::kDiskList);
    if (args[0] == "apfs" && args.size() >= 2 && args[1] == "list")
      return std::string(dumpfile::kApfsList);
    if (args[0] == "info") {
      std::string_view disk = args.back();
      if (disk.starts_with("/dev/")) disk.remove_prefix(5);
      if (has(args, "-plist") && bsdNumbers(std::string(disk)))
        return std::string(dumpfile::kInfoFolder) + "/" + std::string(disk) + ".plist";
      if (!has(args, "-plist")) return std::string(dumpfile::kInfoText);
    }
    return std::string();
  }
  if (program == "mount") return args.empty() ? std::string(dumpfile::kMount) : std::string();
  if (program == "df")
    return args.size() <= 1 && (args.empty() || args[0].starts_with('-'))
               ? std::string(dumpfile::kDf)
               : std::string();
  if (program == "sw_vers") {
    if (args.empty()) return std::string(dumpfile::kSwVers);
    return args.size() == 1 && args[0] == "-productVersion" ? std::string(dumpfile::kProductVersion)
                                                            : std::string();
  }
  if (program == "ioreg") return std::string(dumpfile::kIoreg);
  if (program == "tmutil" && !args.empty()) {
    if (args[0] == "destinationinfo") return std::string(dumpfile::kTmDestinations);
    if (args[0] == "status") return std::string(dumpfile::kTmStatus);
    return std::string();
  }
  return std::nullopt;
}

// What comes before a prompt's "% ", "$ " or "# ": nothing, "user@Mac ~" (the shells' own
// prompts carry the user and host), or "bash-3.2" and the like. Output lines that hold "% "
// ("100%  /dev" in df) have more words before it.
bool isPromptPrefix(std::string_view prefix) {
  std::vector<std::string_view> before = words(prefix);
  if (before.empty()) return true;
  if (before.size() <= 3 && prefix.find('@') != std::string_view::npos) return true;
  return before.size() == 1 &&
         (before[0].starts_with("bash-") || before[0].starts_with("sh-") || before[0] == "zsh");
}

// The dump file of a line's command and the command as typed: a prompt line with another
// command gives the file "", a line that is no prompt nothing. A line that is only a known
// command, without a prompt, counts too ("# diskutil list" in notes, a bare "mount").
std::optional<std::pair<std::string, std::string_view>> commandOn(std::string_view line) {
  std::vector<std::pair<std::string_view, bool>> candidates{{line, false}};
  for (std::string_view prompt : {"% ", "$ ", "# ", "> "}) {
    std::size_t at = line.find(prompt);
    if (at != std::string_view::npos && at < 200 && isPromptPrefix(line.substr(0, at)))
      candidates.emplace_back(line.substr(at + prompt.size()), true);
  }
  std::optional<std::pair<std::string, std::string_view>> otherCommand;
  for (const auto& [candidate, prompted] : candidates) {
    std::vector<std::string_view> command = words(candidate);
    if (!command.empty() && command[0] == "sudo") command.erase(command.begin());
    if (command.empty()) continue;
    if (command.size() <= 8) {
      if (auto file = fileOf(command)) return std::make_pair(*file, candidate);
    }
    if (prompted) otherCommand = std::make_pair(std::string(), candidate);
  }
  return otherCommand;
}

}  // namespace

std::vector<TranscriptPart> splitTranscript(std::string_view session) {
  std::vector<TranscriptPart> parts;
  TranscriptPart* current = nullptr;
  std::size_t number = 0;
  while (!session.empty()) {
    std::size_t end = session.find('\n');
    std::string_view line =
        session.substr(0, end == std::string_view::npos ? session.size() : end + 1);
    session.remove_prefix(line.size());
    ++number;
    std::string_view bare = line;
    while (!bare.empty() && (bare.back() == '\n' || bare.back() == '\r')) bare.remove_suffix(1);
    if (auto command = commandOn(bare)) {
      current = nullptr;
      if (command->first.empty()) continue;
      for (TranscriptPart& part : parts) {
        if (part.file == command->first) current = &part;
      }
      if (!current) {
        current = &parts.emplace_back();
        current->file = command->first;
        current->command = std::string(command->second);
        current->firstLine = number + 1;
      }
      current->lastLine = number;
      continue;
    }
    // A line that only holds a prompt ends the output before it.
    std::string_view trimmed = bare.substr(0, bare.find_last_not_of(" \t") + 1);
    if (!trimmed.empty() &&
        (trimmed.ends_with(" %") || trimmed.ends_with(" $") || trimmed.ends_with(" #") ||
         trimmed == "$" || trimmed == "#" || trimmed == "%")) {
      current = nullptr;
      continue;
    }
    if (!current) continue;
    current->text += line;
    current->lastLine = number;
  }
  return parts;
}

}  // namespace strandel::importer
