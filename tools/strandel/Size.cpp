// strandel size total|free|used|apfs-used|total-text|used-text PATH: the capacities.
#include <memory>

#include <strandel/Strandel.hpp>

#include "tools/strandel/Command.hpp"
#include "tools/strandel/Found.hpp"

namespace strandel::tool {
namespace {

struct SizeQuery {
  const char* name;
  const char* help;
  PlistValue (*answer)(std::string_view path);
};

const SizeQuery kSizeQueries[] = {
    {"total", "total bytes of the file system holding PATH (0 if it can't be measured)",
     [](std::string_view path) { return PlistValue(ZVFoundationGetVolTotalSize(path)); }},
    {"free", "free bytes, the superuser's reserve included",
     [](std::string_view path) { return PlistValue(ZVFoundationGetVolFreeSize(path)); }},
    {"used", "used bytes (negative when free exceeds total)",
     [](std::string_view path) { return PlistValue(ZVFoundationGetVolUsedSize(path)); }},
    {"apfs-used",
     "used bytes of the APFS container of the volume mounted at PATH, else its used bytes",
     [](std::string_view path) { return PlistValue(ZVFoundationGetAPFSVolUsedSize(path)); }},
    {"total-text", "the total as byte text (\"500 GB\")",
     [](std::string_view path) { return PlistValue(ZVFoundationGetVolTotalSizeString(path)); }},
    {"used-text", "the used size as byte text",
     [](std::string_view path) { return PlistValue(ZVFoundationGetVolUsedSizeString(path)); }},
};

}  // namespace

void addSizeCommand(CommandBuilder& tool, Context& context) {
  CommandBuilder size = tool.subcommand("size", "the capacity of the volume holding a path");
  size.requireSubcommand();
  for (const SizeQuery& query : kSizeQueries) {
    CommandBuilder command = size.subcommand(query.name, query.help);
    auto path = std::make_shared<std::string>();
    command.argument("PATH", *path, "any path on the volume (apfs-used: its mount point)");
    command.onChosen([&context, path, answer = query.answer] {
      context.run = [&context, path, answer] {
        PlistValue value = answer(*path);
        // A size above zero was measured on the path, which is there: asked again only otherwise.
        auto bytes = value.asUnsignedInteger();
        bool exists = (bytes && *bytes > 0) || pathExists(*path);
        return printAnswerAbout(context, value, exists,
                                "'" + *path + "': no such file or directory");
      };
    });
  }
}

}  // namespace strandel::tool
