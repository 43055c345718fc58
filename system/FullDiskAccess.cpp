// The Full Disk Access probe: the privacy database's `access` table, dumped by the database
// tool into a temporary file, read back and searched for the grants of our three clients.
#include "system/FullDiskAccess.hpp"

#include <array>
#include <optional>
#include <string>

#include "base/FileBytes.hpp"
#include "base/Utf8.hpp"
#include "platform/Machine.hpp"
#include "system/Version.hpp"

namespace strandel::system {
namespace {

constexpr std::string_view kService = "kTCCServiceSystemPolicyAllFiles";
constexpr const char* kTemporaryPath = "/tmp/vxp20FDAtemp.temp";
constexpr const char* kDatabase = "/Library/Application Support/com.apple.TCC/TCC.db";

enum class Client { Application, BackgroundTool, RundleAgent };

// The clients in the order they are tested; a row feeds the first that its client ends with.
struct ClientSuffix {
  std::string_view suffix;
  Client client;
};
constexpr std::array<ClientSuffix, 4> kClients{{
    {"Varnex 20.app", Client::Application},
    {"com.zorvik.varnexvxp20", Client::Application},
    {"com.zorvik.varnexvxp20.VXP20BackgroundTool", Client::BackgroundTool},
    {"com.zorvik.rundle.RundleBackground", Client::RundleAgent},
}};

std::optional<Client> clientOf(std::string_view column) {
  for (const auto& entry : kClients)
    if (column.ends_with(entry.suffix)) return entry.client;
  return std::nullopt;
}

// The length of the blank at the start of `text` (tab or a Unicode space separator, as the
// platform's whitespace set has them), or 0. Line breaks are not blanks: a row never holds one.
std::size_t blankLength(std::string_view text) {
  constexpr std::array<std::string_view, 18> kBlanks{{
      " ",
      "\t",
      "\xC2\xA0",
      "\xE1\x9A\x80",
      "\xE2\x80\x80",
      "\xE2\x80\x81",
      "\xE2\x80\x82",
      "\xE2\x80\x83",
      "\xE2\x80\x84",
      "\xE2\x80\x85",
      "\xE2\x80\x86",
      "\xE2\x80\x87",
      "\xE2\x80\x88",
      "\xE2\x80\x89",
      "\xE2\x80\x8A",
      "\xE2\x80\xAF",
      "\xE2\x81\x9F",
      "\xE3\x80\x80",
  }};
  for (std::string_view blank : kBlanks)
    if (text.starts_with(blank)) return blank.size();
  return 0;
}

// The first four "|"-separated pieces of a row, or nothing when it has fewer.
std::optional<std::array<std::string_view, 4>> firstFourColumns(std::string_view row) {
  std::array<std::string_view, 4> columns;
  for (std::size_t i = 0; i < 3; ++i) {
    std::size_t bar = row.find('|');
    if (bar == std::string_view::npos) return std::nullopt;
    columns[i] = row.substr(0, bar);
    row.remove_prefix(bar + 1);
  }
  columns[3] = row.substr(0, row.find('|'));
  return columns;
}

// Another probe, in this process or another, may put its own file at the path between our
// removal and our creation; it keeps its descriptor, so taking the path over again harms
// nothing, and a few tries let overlapping probes all run.
base::UniqueFd createTemporaryFile(platform::Files& files) {
  for (int attempt = 0; attempt < 4; ++attempt) {
    if (auto fd = files.createExclusive(kTemporaryPath)) return fd;
  }
  return {};
}

}  // namespace

bool textBoolValue(std::string_view text) {
  while (std::size_t n = blankLength(text)) text.remove_prefix(n);
  if (text.starts_with('+') || text.starts_with('-')) text.remove_prefix(1);
  while (text.starts_with('0')) text.remove_prefix(1);
  if (text.empty()) return false;
  char c = text.front();
  return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
}

bool fullDiskAccessGranted(std::string_view dump) {
  bool application = false, backgroundTool = false, rundleAgent = false;
  while (!dump.empty()) {
    std::size_t end = dump.find('\n');
    std::string_view row = dump.substr(0, end);
    dump.remove_prefix(end == std::string_view::npos ? dump.size() : end + 1);

    // Columns: 0 the service, 1 the client, 2 its kind (not read), 3 the grant.
    auto columns = firstFourColumns(row);
    if (!columns || (*columns)[0] != kService) continue;
    auto client = clientOf((*columns)[1]);
    if (!client) continue;
    bool& flag = *client == Client::Application      ? application
                 : *client == Client::BackgroundTool ? backgroundTool
                                                     : rundleAgent;
    // One granted row is enough, whatever rows of the same client say before or after it.
    if (!flag) flag = textBoolValue((*columns)[3]);
  }
  return application && backgroundTool && rundleAgent;
}

bool isFullDiskAccessSetup() {
  // Full Disk Access exists from 10.14 on; before, there is nothing to ask and nothing is run.
  if (compareCurrentVersionWith("10.14") == -1) return false;

  auto machine = platform::current();
  platform::Files& files = machine->files();
  bool granted = false;
  // The file is created by this process, so it belongs to the current user: the owner the probe
  // gives it. It is never reached through its path again: a link planted there can neither
  // receive the dump nor be read as one.
  if (base::UniqueFd file = createTemporaryFile(files)) {
    platform::ToolRunOptions options;
    options.tool = "/usr/bin/sqlite3";
    options.arguments = {"-line", "-list", "-newline", "\n", kDatabase, "SELECT * from access;"};
    options.environment = platform::Environment::Host;
    options.standardInput = platform::StdStream::NullDevice;
    options.standardError = platform::StdStream::NullDevice;
    // A tool that can't be started leaves the file empty, which answers false like a database
    // that can't be read.
    machine->processes().runToolToFile(options, file.get());
    // Read from the start through the descriptor itself: whatever is at the path by now
    // (another probe's file, a planted link) is never looked at. A dump past the cap on tool
    // output is no answer, as for any tool.
    base::FileBytes dump = base::readOpenFileAt(file.get(), 0, platform::kMaxToolOutputBytes);
    if (dump && !dump.bytes.empty())
      granted = fullDiskAccessGranted(base::decodeLatin1(dump.bytes));
  }
  files.remove(kTemporaryPath);
  return granted;
}

}  // namespace strandel::system
