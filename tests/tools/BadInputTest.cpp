// Every command of the tool given arguments it does not expect: left out, one too many, empty,
// huge, not UTF-8. Each must end in a usage error (exit 2, one line on stderr) or an answer
// (exit 0, one JSON value); never a signal, never another exit status.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "plist/Utf8.hpp"
#include "tests/support/Paths.hpp"
#include "tests/support/TempDir.hpp"
#include "tests/support/ToolRun.hpp"

namespace strandel {
namespace {

// The longest single argument Linux passes to a program (MAX_ARG_STRLEN, 32 pages, the NUL
// included): a megabyte can't reach the tool at all, this is as close as a caller can come.
constexpr std::size_t kHugeArgument = 32 * 4096 - 1;

// A command and arguments it accepts; the variants below are made from them.
struct Command {
  std::vector<std::string> words;
  std::vector<std::string> arguments;
};

// The tool runs in a scratch folder of its own, so `out` and any relative name that a variant
// puts in its place land there.
std::vector<Command> commands(const std::string& dump, const std::string& out) {
  return {
      {{"registry"}, {}},
      {{"volumes"}, {}},
      {{"container-members"}, {"disk3s1"}},
      {{"container-members", "--as-listed"}, {"disk3"}},
      {{"is-network-backup"}, {"disk5s1"}},
      {{"apfs", "container"}, {"disk3"}},
      {{"apfs", "is-apfs"}, {"/"}},
      {{"apfs", "system"}, {"disk3"}},
      {{"apfs", "data"}, {"disk3"}},
      {{"apfs", "preboot"}, {"disk3"}},
      {{"apfs", "recovery"}, {"disk3"}},
      {{"apfs", "role"}, {"disk3s1"}},
      {{"os", "version"}, {}},
      {{"os", "info"}, {}},
      {{"os", "compare"}, {"10.13"}},
      {{"mount", "from"}, {"/"}},
      {{"mount", "on"}, {"disk3s1"}},
      {{"size", "total"}, {"/"}},
      {{"size", "free"}, {"/"}},
      {{"size", "used"}, {"/"}},
      {{"size", "apfs-used"}, {"/"}},
      {{"size", "total-text"}, {"/"}},
      {{"size", "used-text"}, {"/"}},
      {{"bytes"}, {"1536"}},
      {{"bytes", "--label"}, {"1536"}},
      {{"bytes", "--mb"}, {"1536"}},
      {{"verify"}, {"disk9s9"}},  // a volume the disk utility does not know, so the run is short
      {{"tmutil"}, {"status", "-X"}},
      {{"fda"}, {}},
      {{"image", "import"}, {dump, out}},
  };
}

struct Variant {
  const char* name;
  std::vector<std::string> arguments;
};

// The bad forms of a command's arguments: one left out, one too many, and each argument in turn
// empty, huge or not UTF-8. A command without arguments gets the odd value as one it does not
// take.
std::vector<Variant> variants(const Command& command) {
  const std::string huge(kHugeArgument, 'x');
  const std::string notUtf8 = "disk\xff\xfe\xc3(s1\x80";
  std::vector<Variant> out;
  const std::vector<std::string>& good = command.arguments;
  if (!good.empty()) out.push_back({"missing", {good.begin(), good.end() - 1}});
  std::vector<std::string> extra = good;
  extra.push_back("surplus");
  out.push_back({"extra", extra});
  const std::pair<const char*, std::string> oddValues[] = {{"empty", ""}, {"huge", huge}, {"not UTF-8", notUtf8}};
  for (const auto& [name, odd] : oddValues) {
    if (good.empty()) out.push_back({name, {odd}});
    for (std::size_t i = 0; i < good.size(); ++i) {
      std::vector<std::string> arguments = good;
      arguments[i] = odd;
      out.push_back({name, arguments});
    }
  }
  return out;
}

// Makes a folder the working folder while the value lives.
class WorkingFolder {
 public:
  explicit WorkingFolder(const std::filesystem::path& folder) : saved_(std::filesystem::current_path()) {
    std::filesystem::current_path(folder);
  }
  ~WorkingFolder() { std::filesystem::current_path(saved_); }
  WorkingFolder(const WorkingFolder&) = delete;
  WorkingFolder& operator=(const WorkingFolder&) = delete;

 private:
  std::filesystem::path saved_;
};

std::string shown(const std::vector<std::string>& arguments) {
  std::string text;
  for (const std::string& argument : arguments) {
    std::string size = std::to_string(argument.size());
    text += " '" + (argument.size() > 60 ? argument.substr(0, 20) + "...(" + size + " bytes)" : argument) + "'";
  }
  return text;
}

TEST(BadInput, EveryCommandEndsInAnAnswerOrOneUsageLine) {
  const std::string dump = testing::sourceDir() + "/tests/tools/dumps/osx-virtualbox";
  const std::string machine = testing::sampleMachine("apple-silicon-macos26");
  for (const Command& command : commands(dump, "image")) {
    for (const Variant& variant : variants(command)) {
      for (const std::string format : {"json", "plist", "text"}) {
        // An argument left out or one too many is a matter of parsing, before any format is
        // chosen: one format says all there is to say about it.
        std::string_view kind = variant.name;
        if (format != "json" && (kind == "missing" || kind == "extra")) continue;
        std::vector<std::string> arguments = {"--machine", machine, "--format", format};
        arguments.insert(arguments.end(), command.words.begin(), command.words.end());
        arguments.insert(arguments.end(), variant.arguments.begin(), variant.arguments.end());
        SCOPED_TRACE(std::string(variant.name) + ":" + shown(arguments));
        testing::TempDir scratch;
        testing::ToolRun run;
        {
          WorkingFolder inScratch(scratch.path());
          run = testing::runStrandel(arguments);
        }
        ASSERT_EQ(run.signal, 0) << run.err;
        if (run.status == 2) {
          EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
          EXPECT_TRUE(run.err.starts_with("strandel: ") && run.err.ends_with("\n")) << run.err;
          continue;
        }
        ASSERT_EQ(run.status, 0) << run.err;
        // The importer tells the problems of the dump it read on stderr; an answer of any other
        // command comes with no complaint of the tool's own.
        if (command.words[0] == "image") continue;
        EXPECT_EQ(run.err.find("strandel:"), std::string::npos) << run.err;
        // Whatever bytes came in, a script's answer is UTF-8: one JSON value and a line feed,
        // or one property-list document.
        if (format == "json") {
          EXPECT_TRUE(run.out.ends_with("\n") && std::count(run.out.begin(), run.out.end(), '\n') == 1) << run.out;
          EXPECT_TRUE(isValidUtf8(run.out)) << run.out;
        } else if (format == "plist") {
          bool document = run.out.ends_with("</plist>\n") || run.out.ends_with("<plist version=\"1.0\"/>\n");
          EXPECT_TRUE(run.out.starts_with("<?xml") && document) << run.out;
          EXPECT_TRUE(isValidUtf8(run.out)) << run.out;
        }
      }
    }
  }
}

}  // namespace
}  // namespace strandel
