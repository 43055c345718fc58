// strandel volumes · strandel container-members BSD · strandel is-network-backup DEVICE: the
// volume catalogue.
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include <strandel/Strandel.hpp>

#include "framework/PathText.hpp"
#include "plist/Utf8.hpp"
#include "tools/strandel/Command.hpp"

namespace strandel::tool {
namespace {

std::string textOf(const PlistValue& record, std::string_view key) {
  const PlistValue* value = record.find(key);
  if (!value) return {};
  if (const std::string* text = value->asString()) return *text;
  return {};
}

bool flagOf(const PlistValue& record, std::string_view key) {
  const PlistValue* value = record.find(key);
  if (!value) return false;
  if (auto flag = value->asBoolean()) return *flag;
  if (auto number = value->asInteger()) return *number != 0;
  return false;
}

// Columns are measured in characters, not bytes, so names such as "Michael’s" line up.
std::size_t displayWidth(std::string_view text) {
  std::size_t width = 0;
  for (std::size_t i = 0; i < text.size(); ++width) {
    std::size_t n = utf8SequenceLength(text.substr(i));
    i += n == 0 ? 1 : n;
  }
  return width;
}

using Row = std::vector<std::string>;

std::string renderTable(const std::vector<Row>& rows) {
  // Only full rows set the widths: a container's line runs on past its columns.
  std::size_t columns = rows.empty() ? 0 : rows.front().size();
  std::vector<std::size_t> widths(columns, 0);
  for (const Row& row : rows) {
    if (row.size() != columns) continue;
    for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], displayWidth(row[i]));
  }
  std::string out;
  for (const Row& row : rows) {
    std::string line;
    for (std::size_t i = 0; i < row.size(); ++i) {
      line += row[i];
      if (i + 1 < row.size()) line.append(std::max(widths[i], displayWidth(row[i])) - displayWidth(row[i]) + 2, ' ');
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out += line + "\n";
  }
  return out;
}

Row volumeRow(StrandelFramework& framework, const PlistValue& record, std::string_view indent) {
  std::uint64_t size = 0;
  if (const PlistValue* value = record.find("size")) size = value->asUnsignedInteger().value_or(0);
  std::string mountedOn = flagOf(record, "isMounted") ? textOf(record, "volumePath") : "-";
  std::string connection = textOf(record, "location");
  if (!textOf(record, "connection").empty()) connection += " " + textOf(record, "connection");
  return Row{std::string(indent) + textOf(record, "bsdName"),
             textOf(record, "volumeName"),
             framework.unitizedBytes(static_cast<double>(size)),
             textOf(record, "volumeFmt"),
             mountedOn,
             connection,
             textOf(record, "role")};
}

// A disk utility's listing: volumes that are not APFS one per line, each APFS container on a
// line of its own at the place of its first volume, with its listed volumes indented below it.
std::string volumesTable(const PlistValue& answer) {
  const PlistArray* records = answer.asArray();
  if (!records || records->empty()) return "no volumes\n";
  StrandelFramework framework;
  std::vector<Row> rows{{"DEVICE", "NAME", "SIZE", "FORMAT", "MOUNTED ON", "LOCATION", "ROLE"}};
  std::vector<bool> shown(records->size(), false);
  for (std::size_t i = 0; i < records->size(); ++i) {
    if (shown[i]) continue;
    const PlistValue& record = (*records)[i];
    if (!flagOf(record, "isAPFS")) {
      rows.push_back(volumeRow(framework, record, ""));
      continue;
    }
    std::string container = wholeDiskName(textOf(record, "bsdName"));
    std::string about = "APFS container";
    if (const PlistValue* group = record.find("volumeGroup"); group && flagOf(*group, "containsBoot")) {
      about += ", holds the running system";
    }
    rows.push_back(Row{container, about});
    for (std::size_t j = i; j < records->size(); ++j) {
      const PlistValue& member = (*records)[j];
      if (shown[j] || !flagOf(member, "isAPFS") || wholeDiskName(textOf(member, "bsdName")) != container) continue;
      rows.push_back(volumeRow(framework, member, "  "));
      shown[j] = true;
    }
  }
  return renderTable(rows);
}

std::string groupTable(const PlistValue& group) {
  std::vector<Row> rows{{"DEVICE", "NAME", "KIND", "MOUNTED ON"}};
  if (const PlistValue* volumes = group.find("volumes"); volumes && volumes->asArray()) {
    for (const PlistValue& member : *volumes->asArray()) {
      rows.push_back(Row{textOf(member, "bsd"), textOf(member, "name"), textOf(member, "kind"),
                         flagOf(member, "isMounted") ? textOf(member, "volpath") : "-"});
    }
  }
  std::string out = renderTable(rows);
  out += flagOf(group, "containsBoot") ? "holds the running system\n" : "does not hold the running system\n";
  return out;
}

}  // namespace

void addVolumesCommands(CLI::App& app, Context& context) {
  auto* volumes = app.add_subcommand("volumes", "the volume list: one record per volume a user would pick");
  volumes->callback([&context] {
    context.run = [&context] {
      StrandelFramework framework;
      return printAnswer(context, PlistValue(framework.volumeList()), volumesTable);
    };
  });

  auto* members = app.add_subcommand("container-members", "the group of the APFS container that BSD belongs to");
  auto bsdName = std::make_shared<std::string>();
  auto asListed = std::make_shared<bool>(false);
  members->add_option("BSD", *bsdName, "a BSD name (disk1s2 or the container disk1)")->required();
  members->add_flag("--as-listed", *asListed,
                    "make a volume list first, so that the exclusion list is in force as in a host that has "
                    "listed its volumes (without it, a fresh process excludes nothing)");
  members->callback([&context, bsdName, asListed] {
    context.run = [&context, bsdName, asListed] {
      if (*asListed) StrandelFramework().volumeList();
      return printAnswer(context, PlistValue(StrandelFramework::volumesInAPFSContainer(*bsdName)), groupTable);
    };
  });

  auto* backup = app.add_subcommand("is-network-backup",
                                    "whether DEVICE is the mounted disk image of a network Time Machine backup");
  auto device = std::make_shared<std::string>();
  backup->add_option("DEVICE", *device, "a BSD name (disk5s1) or device path (/dev/disk5s1)")->required();
  backup->callback([&context, device] {
    context.run = [&context, device] { return printAnswer(context, PlistValue(isNetworkTimeMachine(*device))); };
  });
}

}  // namespace strandel::tool
