// strandel image import DUMP_DIR OUT_DIR: a machine image from a dump of a real Mac.
#include <memory>

#include "tools/strandel/Command.hpp"
#include "tools/strandel/import/ImportMac.hpp"

namespace strandel::tool {

void addImageCommand(CommandBuilder& tool, Context& context) {
  CommandBuilder image = tool.subcommand("image", "make machine images (folders that record one Mac, for --machine)");
  image.requireSubcommand();

  struct Arguments {
    std::string dump, out;
  };
  auto arguments = std::make_shared<Arguments>();
  CommandBuilder import = image.subcommand(
      "import", "build a machine image in OUT_DIR from DUMP_DIR, the folder that tools/record-mac wrote on a Mac; prints a summary, a line on stderr for each file it could not use; exit 1 when nothing was usable");
  import.argument("DUMP_DIR", arguments->dump, "the dump folder");
  import.argument("OUT_DIR", arguments->out, "the image folder to make (new, or empty)");
  import.onChosen([&context, arguments] {
    context.run = [arguments] {
      importer::ImportReport report = importer::importMac(arguments->dump, arguments->out);
      for (const std::string& problem : report.problems) sayError("image import: " + problem);
      switch (report.status) {
        case importer::ImportStatus::Written:
          writeOut(report.message + "\n");
          return 0;
        case importer::ImportStatus::NothingUsable:
          sayError("image import: " + report.message);
          return 1;
        case importer::ImportStatus::BadArguments:
          break;
      }
      throw UsageError{"image import: " + report.message};
    };
  });
}

}  // namespace strandel::tool
