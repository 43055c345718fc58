// strandel image import DUMP_DIR OUT_DIR: a machine image from a dump of a real Mac, and
// strandel image guesses: what an import decided where the recording did not say.
#include <memory>

#include <strandel/Machine.hpp>
#include <strandel/StrandelFramework.hpp>

#include "tools/strandel/Command.hpp"
#include "tools/strandel/import/ImportMac.hpp"

namespace strandel::tool {
namespace {

void addImportCommand(CommandBuilder& image, Context& context) {
  struct Arguments {
    std::string dump, out, osVersion, build, productName;
    bool force = false, verbose = false;
  };
  auto arguments = std::make_shared<Arguments>();
  CommandBuilder import =
      image.subcommand("import",
                       "build a machine image in OUT_DIR from DUMP_DIR, the folder that record-mac "
                       "wrote on a Mac; prints a summary (-v: a line on stderr for each file it "
                       "could not use and each guess); exit 1 when nothing was usable");
  import.argument(
      "DUMP_DIR", arguments->dump,
      "the dump folder (or the folder holding it, or a file of a pasted terminal session)");
  import.argument("OUT_DIR", arguments->out,
                  "the image folder to make (new, or empty; with --force an image to replace)");
  import.option(
      "--os-version", arguments->osVersion,
      "the Mac's OS version, when the recording lacks it or says it wrong (sw_vers answers it)",
      "VERSION");
  import.option("--build", arguments->build, "the Mac's build version (sw_vers' BuildVersion)",
                "BUILD");
  import.option("--product-name", arguments->productName,
                "the system's name (sw_vers' ProductName: macOS, Mac OS X)", "NAME");
  import.flag("--force", arguments->force,
              "replace OUT_DIR when it is a machine image (never anything else)");
  import.flag("-v,--verbose", arguments->verbose,
              "say on stderr, one line each, what each file gave and what was guessed");
  import.onChosen([&context, arguments] {
    context.run = [arguments] {
      importer::ImportOptions options;
  options.replace = arguments->force;
  if (!arguments->osVersion.empty()) options.facts.osVersion = arguments->osVersion;
  if (!arguments->build.empty()) options.facts.build = arguments->build;
  if (!arguments->productName.empty()) options.facts.productName = arguments->productName;
  importer::ImportReport report = importer::importMac(arguments->dump, arguments->out, options);
  if (arguments->verbose) {
    for (const std::string& problem : report.problems) sayError("image import: " + problem);
  }
  switch (report.status) {
    case importer::ImportStatus::Written: {
      // The Mac's own volume list leaves out the system's helper volumes and snapshots:
      // the summary says how many it shows, asked of the image just written.
      std::string message = report.message;
      if (!useMachine(arguments->out)) {
        std::size_t listed = StrandelFramework().volumeList().size();
        message.insert(report.afterVolumes, " (" + std::to_string(listed) + " in the volume list)");
      }
      std::string hints;
      if (report.guesses > 0)
        hints += "\"strandel --machine " + arguments->out + " image guesses\" lists the guesses";
      if (!arguments->verbose && !report.problems.empty())
        hints += std::string(hints.empty() ? "" : "; ") + "-v tells what each file gave (" +
                 std::to_string(report.problems.size()) + " lines)";
      writeOut(message + "\n" + (hints.empty() ? "" : hints + "\n"));
      return 0;
    }
    case importer::ImportStatus::NothingUsable:
      sayError("image import: " + report.message);
      return 1;
    case importer::ImportStatus::BadArguments:
      break;
  }
  throw UsageError{"image import: " + report.message};
};
}  // namespace
);
}  // namespace strandel::tool

// "PLACE: what" as the import wrote it: the place is a disk, a file or a part of the image.
PlistValue guessValue(const std::string& line) {
  std::size_t colon = line.find(": ");
  PlistDict guess;
  guess["about"] = colon == std::string::npos ? std::string() : line.substr(0, colon);
  guess["guess"] = colon == std::string::npos ? line : line.substr(colon + 2);
  return guess;
}

void addGuessesCommand(CommandBuilder& image, Context& context) {
  CommandBuilder guesses = image.subcommand(
      "guesses",
      "list what the import of the --machine image decided where the recording did not say, and "
      "why; one line each (--format json: an array of {about, guess})");
  guesses.onChosen([&context] {
    context.run = [&context] {
      if (context.liveHost)
        throw UsageError{"image guesses: give the image with --machine DIR (or STRANDEL_MACHINE)"};
      auto lines = importer::importGuessesOf(context.machineDir);
      if (!lines)
        throw UsageError{"image guesses: " + context.machineDir + ": no machine.plist can be read"};
      PlistArray answer;
      for (const std::string& line : *lines) answer.push_back(guessValue(line));
      return printAnswer(context, PlistValue(std::move(answer)), [](const PlistValue& value) {
        std::string text;
        for (const PlistValue& guess : *value.asArray()) {
          text += *guess.find("about")->asString() + ": " + *guess.find("guess")->asString() + "\n";
        }
        return text.empty() ? std::string(
                                  "no guesses kept (an image made by hand, or a recording that "
                                  "said everything)\n")
                            : text;
      });
    };
  });
}

}  // namespace

void addImageCommand(CommandBuilder& tool, Context& context) {
  CommandBuilder image = tool.subcommand("image",
                                         "make machine images (folders that record one Mac, for "
                                         "--machine) and show what an import guessed");
  image.requireSubcommand();
  addImportCommand(image, context);
  addGuessesCommand(image, context);
}

}  // namespace strandel::tool
