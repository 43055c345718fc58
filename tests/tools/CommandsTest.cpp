// The tool's commands run as a user runs them: how they read their arguments and print their
// answers (the answers themselves are the library's), and the registry tree for people.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <locale.h>
#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cwchar>
#include <filesystem>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include <strandel/PlistValue.hpp>

#include "tests/support/ImageBuilder.hpp"
#include "tests/support/Paths.hpp"
#include "tests/support/TempDir.hpp"
#include "tests/support/ToolRun.hpp"

namespace strandel {
namespace {

const std::string kSample = testing::sampleMachine("apple-silicon-macos26");

// Sets an environment variable (or unsets it for nullptr) while the value lives; the tool runs
// with the test's environment. COLUMNS is the width a table fits when its output is not a terminal.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) saved_ = old;
    value ? ::setenv(name, value, 1) : ::unsetenv(name);
  }
  ~ScopedVariable() { saved_ ? ::setenv(name_, saved_->c_str(), 1) : ::unsetenv(name_); }

 private:
  const char* name_;
  std::optional<std::string> saved_;
};

// Runs the tool on `machine` with `words` after --machine; stdout goes to `output` when given.
testing::ToolRun runOn(const std::string& machine, const std::vector<std::string>& words, int output = -1) {
  std::vector<std::string> arguments = {"--machine", machine};
  arguments.insert(arguments.end(), words.begin(), words.end());
  return testing::runStrandel(arguments, testing::ToolEnvironment::Inherited, output);
}

// The cells a line of UTF-8 takes on a terminal.
std::size_t cellsOf(const std::string& line) {
  static locale_t utf8 = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
  locale_t previous = ::uselocale(utf8);
  std::mbstate_t state{};
  std::size_t cells = 0;
  for (std::size_t i = 0; i < line.size();) {
    wchar_t c = 0;
    std::size_t n = std::mbrtowc(&c, line.data() + i, line.size() - i, &state);
    if (n == 0 || n > line.size() - i) n = 1;
    int width = ::wcwidth(c);
    cells += width < 0 ? 1 : static_cast<std::size_t>(width);
    i += n;
  }
  ::uselocale(previous);
  return cells;
}

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(Commands, ReadTheirArgumentsPrintTheAnswerAndKeepTheConventions) {
  // A Catalina machine's root volume, with the worked figures, and its data volume. Without a disk
  // behind it, the APFS used size is the volume's own. A Time Machine tool answers with its own
  // arguments.
  testing::TempDir dir;
  testing::ImageBuilder image;
  image.mount({.on = "/", .from = "/dev/disk1s5", .type = "apfs"});
  image.mount({.on = "/System/Volumes/Data", .from = "/dev/disk1s1", .type = "apfs"});
  image.tool("/usr/bin/tmutil",
             "#!/bin/sh\nprintf '<plist version=\"1.0\"><array>'\nfor a; do printf '<string>%s</string>' \"$a\"; done\n"
             "printf '</array></plist>\\n'\n");
  image.write(dir.path());
  // The arguments, the exit status, what the tool prints and its line on stderr (when not given,
  // an answer has none and an error has one).
  const std::tuple<std::vector<std::string>, int, std::string, std::string> cases[] = {
      {{"bytes", "1536"}, 0, "1.54 KB\n", ""},
      {{"bytes", "-5"}, 0, "-5 bytes\n", ""},
      {{"bytes", "--", "-5"}, 0, "-5 bytes\n", ""},
      {{"bytes", "nan"}, 0, "nan bytes\n", ""},
      {{"bytes"}, 0, "0 bytes\n", ""},
      {{"bytes", "--label", "500107862016"}, 0, "500.11 GB\n", ""},
      {{"bytes", "--mb", "500107862016"}, 0, "476940M (500107837440 bytes)\n", ""},
      {{"--format", "json", "bytes", "1048575", "--mb"}, 0, "{\"bytes\":0,\"text\":\"0M\"}\n", ""},

      {{"mount", "from", "/"}, 0, "/dev/disk1s5\n", ""},
      {{"bytes", "1536", "--format", "json"}, 0, "\"1.54 KB\"\n", ""},  // a global option after the command
      {{"mount", "on", "disk1s1"}, 0, "/System/Volumes/Data\n", ""},
      // Left out, the device is absent and nothing is found; given as "", it is "/dev/".
      {{"--format", "json", "mount", "on"}, 0, "\"\"\n", ""},
      {{"--format", "json", "mount", "on", ""}, 0, "\"/\"\n", ""},

      {{"size", "total", "/"}, 0, "500000002048\n", ""},
      {{"size", "apfs-used", "/"}, 0, "250000003072\n", ""},
      {{"--format", "json", "size", "used-text", "/"}, 0, "\"250 GB\"\n", ""},

      // Something named that the machine does not have is an error, after the answer for a
      // script; one that is there answers, empty or not.
      {{"mount", "from", "/nowhere"}, 1, "", ""},
      {{"--format", "json", "mount", "from", "/nowhere"}, 1, "\"\"\n", ""},
      {{"mount", "on", "nosuch"}, 1, "", ""},
      {{"--format", "json", "size", "total", "/nonexistent"}, 1, "0\n", ""},
      {{"container-members", "disk3s1"}, 1, "", ""},
      {{"is-network-backup", "disk9"}, 1, "", ""},
      {{"apfs", "data", "/dev/disk9s1"}, 1, "", ""},
      {{"apfs", "is-apfs", "/Volumes/None"}, 1, "", ""},
      {{"apfs", "role", "disk1s5"}, 0, "6 (APFSVolumeRoleNone)\n", ""},  // mounted, with no role
      {{"--format", "json", "apfs", "data", "disk1s1"}, 0, "null\n", ""},

      {{"bytes", "12abc"}, 2, "", ""},
      {{"bytes", " 5"}, 2, "", ""},
      {{"bytes", "1e400"}, 2, "", ""},
      {{"bytes", "--mb"}, 2, "", ""},
      {{"bytes", "--label", "--mb", "5"}, 2, "", ""},
      {{"size", "huge", "/"}, 2, "", ""},

      // Plain words are read without the parser; whatever they leave open, the parser says.
      {{"size", "total"}, 2, "", ""},
      {{"size"}, 2, "", ""},
      {{"size", "total", "used"}, 1, "", "strandel: 'used': no such file or directory\n"},
      {{"mount", "from", "/", "/"}, 2, "", ""},
      {{"--format=json", "mount", "from", "/"}, 0, "\"/dev/disk1s5\"\n", ""},
      {{"--format", "xml", "bytes", "1"}, 2, "", ""},
      {{"--format", "json", "--format", "json", "bytes", "1"}, 2, "", ""},
      {{"frob"}, 2, "", "strandel: unknown command 'frob'\n"},
      {{"os", "frob"}, 2, "", "strandel: unknown command 'os frob'\n"},
      {{"bytes", "1", "volumes"}, 2, "", "strandel: The following argument was not expected: volumes\n"},
      {{"--format", "json", "tmutil", "--", "-x"}, 0, "[\"-x\"]\n", ""},
      {{"--format", "json", "tmutil", "status", "-X", "--", "--format"},
       0,
       "[\"status\",\"-X\",\"--\",\"--format\"]\n",
       ""},
      {{"--format", "json", "mount", "from", "--", "-weird"}, 1, "\"\"\n", "strandel: no mount on '-weird'\n"},
      {{"volumes", "-o", "DEVICE,FROB"}, 2, "", "strandel: unknown column 'FROB'\n"},
  };
  for (const auto& [words, status, out, err] : cases) {
    testing::ToolRun run = runOn(dir.str(), words);
    std::string shown = ::testing::PrintToString(words) + ": " + run.err;
    EXPECT_EQ(run.status, status) << shown;
    EXPECT_EQ(run.out, out) << shown;
    if (!err.empty() || status == 0) {
      EXPECT_EQ(run.err, err) << shown;
    } else {
      EXPECT_TRUE(run.err.starts_with("strandel: ") && std::ranges::count(run.err, '\n') == 1) << shown;
    }
  }
  testing::ToolRun run = runOn(dir.str(), {"--format", "plist", "bytes", "--mb", "5242879"});
  EXPECT_EQ(readPlist(run.out),
            std::optional<PlistValue>(PlistDict{{"bytes", PlistValue(4194304.0)}, {"text", PlistValue("4M")}}))
      << run.out;
  run = testing::runStrandel({"--version"});
  EXPECT_TRUE(run.status == 0 && std::regex_match(run.out, std::regex("strandel [0-9]+\\.[0-9]+\\.[0-9]+\n")))
      << run.out;

  // A full disk is an error said in one line; a reader that went away ends the tool quietly,
  // by the signal, as it ends the file utilities.
  int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
  ASSERT_GE(full, 0);
  run = runOn(kSample, {"volumes"}, full);
  ::close(full);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "strandel: write error on standard output: No space left on device\n");
  int pipe[2];
  ASSERT_EQ(::pipe2(pipe, O_CLOEXEC), 0);
  ::close(pipe[0]);
  run = runOn(kSample, {"registry"}, pipe[1]);
  ::close(pipe[1]);
  EXPECT_EQ(run.signal, SIGPIPE);
  EXPECT_EQ(run.err, "");
}

TEST(Tables, FitAnEightyColumnTerminal) {
  ScopedVariable columns("COLUMNS", "80");
  for (const auto& sample : std::filesystem::directory_iterator(testing::sourceDir() + "/samples/machines")) {
    for (const std::vector<std::string>& command : {std::vector<std::string>{"volumes"},
                                                    {"registry"},
                                                    {"container-members", "disk1"},
                                                    {"container-members", "disk3"}}) {
      testing::ToolRun run = runOn(sample.path().string(), command);
      if (run.status == 1 && command.front() == "container-members") continue;  // a Mac without that disk
      ASSERT_EQ(run.status, 0) << run.err;
      for (const std::string& line : linesOf(run.out)) {
        EXPECT_LE(cellsOf(line), 80u) << sample.path().filename() << " " << command.front() << ":\n" << run.out;
      }
    }
  }
}

// A name of wide characters, one with control characters and a mount point with blanks and a
// curly apostrophe, which people see decoded and raw output escaped.
TEST(Tables, MeasureWideCharactersAndEscapeControlOnes) {
  testing::TempDir dir;
  testing::ImageBuilder image;
  image.add(testing::volume(testing::volumeOutline("disk5s1", "写真データ", "/Volumes/Photos", "", "hfs")))
      .add(testing::volume(testing::volumeOutline("disk6s1", "red\x1b[31mALERT\x07", "/Volumes/Red", "", "hfs")))
      .add(testing::volume(testing::volumeOutline("disk7s1", "Backup Disk", "/Volumes/Backup Disk ’", "", "hfs")))
      .write(dir.path());
  ScopedVariable columns("COLUMNS", nullptr);
  for (const char* command : {"volumes", "registry"}) {
    testing::ToolRun run = runOn(dir.str(), {command, "-o", "NAME,MOUNTPOINT"});
    ASSERT_EQ(run.status, 0) << run.err;
    // Each mount point starts in the same cell as its heading.
    std::vector<std::string> lines = linesOf(run.out);
    ASSERT_EQ(lines.size(), 4u) << run.out;
    std::size_t heading = cellsOf(lines[0].substr(0, lines[0].find("MOUNTPOINT")));
    for (std::size_t i = 1; i < lines.size(); ++i) {
      EXPECT_EQ(cellsOf(lines[i].substr(0, lines[i].find("/Volumes/"))), heading) << run.out;
    }
    EXPECT_EQ(run.out.find('\x1b'), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find('\x07'), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("red\\x1b[31mALERT\\x07"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("/Volumes/Backup Disk ’\n"), std::string::npos) << run.out;
  }
  testing::ToolRun run = runOn(dir.str(), {"registry", "-r", "-o", "device,mountpoint"});
  EXPECT_NE(run.out.find("\ndisk7s1 /Volumes/Backup\\x20Disk\\x20\\xe2\\x80\\x99\n"), std::string::npos) << run.out;
}

TEST(Tables, ChooseColumnsAsLsblkDoes) {
  ScopedVariable columns("COLUMNS", nullptr);
  // The arguments and what the tool prints: with -o or -n, JSON shows the rows, the container's
  // line included, each row's keys in the order -o gives; every record key and the group's
  // summary are columns.
  const std::tuple<std::vector<std::string>, std::string> cases[] = {
      {{"volumes", "-o", "size,device", "--format", "json"},
       "[{\"size\":\"\",\"device\":\"disk3\"},{\"size\":494384795648,\"device\":\"disk3s1\"},"
       "{\"size\":40000000000,\"device\":\"disk4s2\"},{\"size\":21320683520,\"device\":\"disk4s3\"}]\n"},
      {{"--format", "json", "volumes", "-n", "-o", "DEVICE,isBoot,containsBoot"},
       "[[\"disk3\",\"\",true],[\"disk3s1\",true,true],[\"disk4s2\",false,false],[\"disk4s3\",false,false]]\n"},
      {{"volumes", "-rn", "-o", "device,volumeUUID,isfvapfs"},
       "disk3  \ndisk3s1 E744799E-6CE5-4689-AB4A-6CBB7D9C6C00 false\ndisk4s2 "
       "313C2039-7E07-4E65-BCFE-6FAD5199C8E2 false\n"
       "disk4s3 B1053B3C-B116-4A8B-952F-7C62F40B1D33 false\n"},
      {{"container-members", "disk3s5", "-rn", "-o", "device,containsboot"},
       "disk3s1 true\ndisk3s1s1 true\ndisk3s2 true\ndisk3s3 true\ndisk3s4 true\ndisk3s5 true\ndisk3s6 true\n"
       "holds the running system\n"},
      {{"registry", "-rn", "-o", "device,davolumeuuid"}, ""},
  };
  for (const auto& [words, out] : cases) {
    testing::ToolRun run = runOn(kSample, words);
    EXPECT_EQ(run.status, 0) << ::testing::PrintToString(words) << run.err;
    if (!out.empty()) {
      EXPECT_EQ(run.out, out) << ::testing::PrintToString(words);
    }
  }
  // +LIST adds to the defaults.
  testing::ToolRun run = runOn(kSample, {"volumes", "-r", "-o", "+uuid"});
  EXPECT_TRUE(run.out.starts_with("DEVICE NAME SIZE FORMAT MOUNTPOINT LOCATION ROLE UUID\n")) << run.out;
}

// Text answers escape control characters, JSON keeps every byte. A disk utility that fails is
// told by the exit status (3), after its whole output; a volume that is not there still exits 1.
TEST(TextAnswers, EscapeControlCharactersWhileScriptsGetEveryByte) {
  testing::TempDir dir;
  testing::ImageBuilder image;
  image.mount({.on = "/", .from = "/dev/disk1s5", .type = "apfs"});
  image.mount({.on = "/Volumes/Odd", .from = "/dev/disk1s2\x1b]0;owned\x07\r", .type = "hfs"});
  image.tool("/usr/sbin/diskutil", "#!/bin/sh\nprintf 'Checking \\033[2J\\n\\tdone\\r\\n'\nexit 5\n");
  image.write(dir.path());
  // The arguments, the exit status and what the tool prints.
  const std::tuple<std::vector<std::string>, int, std::string> cases[] = {
      {{"mount", "from", "/Volumes/Odd"}, 0, "/dev/disk1s2\\x1b]0;owned\\x07\\x0d\n"},
      {{"--format", "json", "mount", "from", "/Volumes/Odd"}, 0, "\"/dev/disk1s2\\u001b]0;owned\\u0007\\r\"\n"},
      // A transcript keeps its lines and tabs.
      {{"verify", "disk1s5"}, 3, "Checking \\x1b[2J\n\tdone\\x0d\n"},
      {{"--format", "json", "verify", "disk1s5"}, 3, "\"Checking \\u001b[2J\\n\\tdone\\r\\n\"\n"},
      {{"verify", "disk9s9"}, 1, "Checking \\x1b[2J\n\tdone\\x0d\n"},
  };
  for (const auto& [words, status, out] : cases) {
    testing::ToolRun run = runOn(dir.str(), words);
    EXPECT_EQ(run.status, status) << ::testing::PrintToString(words) << run.err;
    EXPECT_EQ(run.out, out) << ::testing::PrintToString(words);
  }
  testing::ToolRun run = runOn(dir.str(), {"verify", "disk1s5"});
  EXPECT_EQ(run.err, "strandel: the disk utility failed (exit status 5)\n");
  // An error line that quotes what was typed shows it escaped too.
  run = runOn(dir.str(), {"mount", "from", "/x\x1b[2J"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "strandel: no mount on '/x\\x1b[2J'\n");
}

TEST(RegistryCommand, PlistIsTheMachineImagesRegistry) {
  testing::ToolRun run = runOn(kSample, {"--format", "plist", "registry"});
  ASSERT_EQ(run.status, 0) << run.err;
  auto image = readPlist(testing::readFile(kSample + "/machine.plist"));
  ASSERT_TRUE(image && image->find("Registry"));
  EXPECT_EQ(readPlist(run.out), *image->find("Registry"));
}

TEST(RegistryCommand, TextIsATreeTableForPeople) {
  ScopedVariable columns("COLUMNS", nullptr);
  testing::ToolRun run = runOn(kSample, {"registry"});
  ASSERT_EQ(run.status, 0) << run.err;
  for (const char* line : {
           "^CLASS +DEVICE +NAME +KIND +MOUNTPOINT\n",
           "\n(│| )+├─AppleAPFSVolume +disk3s1 +Macintosh HD +apfs +/\n",
           "\n(│| )+└─AppleAPFSSnapshot +disk3s1s1 +Macintosh HD +apfs +/\n",
           "\n(│| )+├─AppleAPFSVolume +disk3s3 +Recovery +apfs *\n",
       }) {
    EXPECT_TRUE(std::regex_search(run.out, std::regex(line))) << line << "\nin:\n" << run.out;
  }
}

}  // namespace
}  // namespace strandel
