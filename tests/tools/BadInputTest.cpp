// Every command of the tool given arguments it does not expect: left out, one too many, empty,
// huge, not UTF-8. Each must end in a usage error (exit 2, one line on stderr), an answer (exit
// 0, one JSON value) or an answer about something the machine does not have (exit 1, one JSON
// value and one line on stderr); never a signal, never another exit status.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "base/Utf8.hpp"
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

// The tool runs in the test's scratch folder, so `out` and any relative name that a variant
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
      {{"apfs", "role"}, {"disk3s1"}},
      {{"os", "version"}, {}},
      {{"os", "info"}, {}},
      {{"os", "compare"}, {"10.13"}},
      {{"mount", "from"}, {"/"}},
      {{"mount", "on"}, {"disk3s1"}},
      {{"size", "total"}, {"/"}},
      {{"size", "used"}, {"/"}},
      {{"size", "apfs-used"}, {"/"}},
      {{"size", "used-text"}, {"/"}},
      {{"bytes"}, {"1536"}},
      {{"bytes", "--label"}, {"1536"}},
      {{"bytes", "--mb"}, {"1536"}},
      {{"verify"}, {"disk9s9"}},  // a volume the disk utility does not know, so the run is short
      {{"tmutil"}, {"status", "-X"}},
      {{"fda"}, {}},
      {{"image", "import"}, {dump, out}},
      {{"volumes", "-r", "-o"}, {"NAME,SIZE"}},
      {{"registry", "-n", "-o"}, {"CLASS"}},
      {{"tmutil", "--"}, {"-x"}},
  };
}

struct Variant {
  const char* name;
  std::vector<std::string> arguments;
  std::vector<const char*> formats;
};

// The bad forms of a command's arguments: one left out, one too many, and each argument in turn
// empty, huge or not UTF-8. A command without arguments gets the odd value as one it does not
// take. Whether an argument is left out, one too many, empty or huge is a matter of parsing and
// of the answer, not of the form it is printed in: one format says all there is to say about
// it. Bytes that are not UTF-8 must come out right in both formats a script reads.
std::vector<Variant> variants(const Command& command) {
  const std::vector<std::string>& good = command.arguments;
  std::vector<Variant> out;
  if (!good.empty()) out.push_back({"missing", {good.begin(), good.end() - 1}, {"json"}});
  out.push_back({"extra", good, {"json"}});
  out.back().arguments.push_back("surplus");
  const std::tuple<const char*, std::string, std::vector<const char*>> oddValues[] = {
      {"empty", "", {"json"}},
      {"huge", std::string(kHugeArgument, 'x'), {"json"}},
      {"not UTF-8", "disk\xff\xfe\xc3(s1\x80", {"json", "plist"}}};
  for (const auto& [name, odd, formats] : oddValues) {
    if (good.empty()) out.push_back({name, {odd}, formats});
    for (std::size_t i = 0; i < good.size(); ++i) {
      out.push_back({name, good, formats});
      out.back().arguments[i] = odd;
    }
  }
  return out;
}

// Makes a folder the working folder while the value lives.
struct WorkingFolder {
  explicit WorkingFolder(const std::filesystem::path& folder) { std::filesystem::current_path(folder); }
  ~WorkingFolder() { std::filesystem::current_path(saved); }
  std::filesystem::path saved = std::filesystem::current_path();
};

TEST(BadInput, EveryCommandEndsInAnAnswerOrOneUsageLine) {
  const std::string dump = testing::sourceDir() + "/tests/tools/dumps/osx-virtualbox";
  const std::string machine = testing::sampleMachine("apple-silicon-macos26");
  testing::TempDir scratch;
  WorkingFolder inScratch(scratch.path());
  for (const Command& command : commands(dump, "image")) {
    for (const Variant& variant : variants(command)) {
      for (const std::string format : variant.formats) {
        std::vector<std::string> arguments = {"--machine", machine, "--format", format};
        arguments.insert(arguments.end(), command.words.begin(), command.words.end());
        arguments.insert(arguments.end(), variant.arguments.begin(), variant.arguments.end());
        std::string shown = format + " " + variant.name + ":";
        for (const std::string& word : arguments)
          shown += " '" + word.substr(0, 60) + (word.size() > 60 ? "...'" : "'");
        SCOPED_TRACE(shown);
        testing::ToolRun run = testing::runStrandel(arguments);
        ASSERT_EQ(run.signal, 0) << run.err;
        if (run.status == 2) {
          EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
          EXPECT_TRUE(run.err.starts_with("strandel: ") && run.err.ends_with("\n")) << run.err;
          continue;
        }
        ASSERT_TRUE(run.status == 0 || run.status == 1) << run.status << " " << run.err;
        // The importer tells the problems of the dump it read on stderr; an answer of any other
        // command comes with no complaint of the tool's own, or with one line saying what is
        // not there.
        if (command.words[0] == "image") continue;
        if (run.status == 1) {
          // The disk utility's own complaint may come first (verify); the tool's line is last.
          ASSERT_TRUE(run.err.ends_with("\n")) << run.err;
          std::string last = run.err.substr(run.err.rfind('\n', run.err.size() - 2) + 1);
          EXPECT_TRUE(last.starts_with("strandel: ")) << run.err;
          if (command.words[0] != "verify") {
            EXPECT_EQ(std::ranges::count(run.err, '\n'), 1) << run.err;
          }
        } else {
          EXPECT_EQ(run.err.find("strandel:"), std::string::npos) << run.err;
        }
        // Whatever bytes came in, a script's answer is UTF-8: one JSON value and a line feed,
        // or one property-list document.
        if (format == "json") {
          EXPECT_TRUE(run.out.ends_with("\n") && std::count(run.out.begin(), run.out.end(), '\n') == 1) << run.out;
        } else if (format == "plist") {
          bool document = run.out.ends_with("</plist>\n") || run.out.ends_with("<plist version=\"1.0\"/>\n");
          EXPECT_TRUE(run.out.starts_with("<?xml") && document) << run.out;
        }
        EXPECT_TRUE(base::isValidUtf8(run.out)) << run.out;
      }
    }
  }
}

}  // namespace
}  // namespace strandel
