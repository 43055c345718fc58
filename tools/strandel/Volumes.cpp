// strandel volumes · strandel container-members BSD · strandel is-network-backup DEVICE: the
// volume catalogue.
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include <libsmartcols/libsmartcols.h>

#include <strandel/Strandel.hpp>

#include "framework/PathText.hpp"
#include "tools/strandel/Command.hpp"
#include "tools/strandel/Table.hpp"

using namespace strandel::detail;

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

enum VolumeColumn { kDevice, kName, kSize, kFormat, kMountpoint, kLocation, kRole };

// A disk utility's listing in lsblk's shape: the device names carry the tree, the sizes line up
// on the right, and the columns of free text give way first when the terminal is narrow.
const ColumnSpec kVolumeColumns[] = {
    {"DEVICE", 0.1, SCOLS_FL_TREE | SCOLS_FL_NOEXTREMES},
    {"NAME", 0.2, SCOLS_FL_TRUNC},
    {"SIZE", 5, SCOLS_FL_RIGHT},
    {"FORMAT", 0.1, SCOLS_FL_TRUNC},
    {"MOUNTPOINT", 0.2, SCOLS_FL_TRUNC},
    {"LOCATION", 0.15, SCOLS_FL_TRUNC},
    {"ROLE", 0.1, SCOLS_FL_TRUNC},
};

void fillVolume(Table& table, libscols_line* line, StrandelFramework& framework, const PlistValue& record) {
  std::uint64_t size = 0;
  if (const PlistValue* value = record.find("size")) size = value->asUnsignedInteger().value_or(0);
  std::string connection = textOf(record, "location");
  if (!textOf(record, "connection").empty()) connection += " " + textOf(record, "connection");
  table.set(line, kDevice, textOf(record, "bsdName"));
  table.set(line, kName, textOf(record, "volumeName"));
  table.set(line, kSize, framework.unitizedBytes(static_cast<double>(size)));
  table.set(line, kFormat, textOf(record, "volumeFmt"));
  if (flagOf(record, "isMounted")) table.set(line, kMountpoint, textOf(record, "volumePath"));
  table.set(line, kLocation, connection);
  table.set(line, kRole, textOf(record, "role"));
}

// A line of the listing: a volume that is not APFS, or an APFS container with its volumes.
struct Entry {
  const PlistValue* record;  // the volume, or the container's first volume
  std::string container;     // empty for a volume that is not APFS
  std::vector<const PlistValue*> members;
};

// Volumes that are not APFS one per line; each APFS container on a line of its own at the
// place of its first volume, with its listed volumes below it. One pass over the records
// groups them: a container's entry is found again by its name.
std::vector<Entry> groupByContainer(const PlistArray& records) {
  std::vector<Entry> entries;
  std::unordered_map<std::string, std::size_t> containerAt;
  for (const PlistValue& record : records) {
    if (!flagOf(record, "isAPFS")) {
      entries.push_back(Entry{&record, {}, {}});
      continue;
    }
    std::string container = detail::wholeDiskName(textOf(record, "bsdName"));
    auto [place, isNew] = containerAt.try_emplace(container, entries.size());
    if (isNew) entries.push_back(Entry{&record, std::move(container), {}});
    entries[place->second].members.push_back(&record);
  }
  return entries;
}

std::string volumesTable(const PlistValue& answer, const TableOptions& options) {
  const PlistArray* records = answer.asArray();
  if (!records || records->empty()) return "no volumes\n";
  StrandelFramework framework;
  Table table(kVolumeColumns, options);
  for (const Entry& entry : groupByContainer(*records)) {
    if (entry.container.empty()) {
      fillVolume(table, table.addLine(), framework, *entry.record);
      continue;
    }
    libscols_line* line = table.addLine();
    table.set(line, kDevice, entry.container);
    table.set(line, kName, "APFS container");
    if (const PlistValue* group = entry.record->find("volumeGroup"); group && flagOf(*group, "containsBoot")) {
      table.set(line, kRole, "running OS");
    }
    for (const PlistValue* member : entry.members) fillVolume(table, table.addLine(line), framework, *member);
  }
  return table.render();
}

enum GroupColumn { kMemberDevice, kMemberName, kMemberKind, kMemberMountpoint };

const ColumnSpec kGroupColumns[] = {
    {"DEVICE", 0.1, SCOLS_FL_NOEXTREMES},
    {"NAME", 0.3, SCOLS_FL_TRUNC},
    {"KIND", 0.1, SCOLS_FL_TRUNC},
    {"MOUNTPOINT", 0.3, SCOLS_FL_TRUNC},
};

std::string groupTable(const PlistValue& group, const TableOptions& options) {
  Table table(kGroupColumns, options);
  if (const PlistValue* volumes = group.find("volumes"); volumes && volumes->asArray()) {
    for (const PlistValue& member : *volumes->asArray()) {
      libscols_line* line = table.addLine();
      table.set(line, kMemberDevice, textOf(member, "bsd"));
      table.set(line, kMemberName, textOf(member, "name"));
      table.set(line, kMemberKind, textOf(member, "kind"));
      if (flagOf(member, "isMounted")) table.set(line, kMemberMountpoint, textOf(member, "volpath"));
    }
  }
  std::string out = table.render();
  out += flagOf(group, "containsBoot") ? "holds the running system\n" : "does not hold the running system\n";
  return out;
}

}  // namespace

void addVolumesCommands(CommandBuilder& tool, Context& context) {
  CommandBuilder volumes = tool.subcommand("volumes", "the volume list: one record per volume a user would pick");
  auto volumesOptions = std::make_shared<TableOptions>();
  addTableOptions(volumes, *volumesOptions, kVolumeColumns);
  volumes.onChosen([&context, volumesOptions] {
    Table checked(kVolumeColumns, *volumesOptions);  // an unknown column is a usage error now
    context.run = [&context, volumesOptions] {
      noteMissingHostService(context, HostService::DiskRegistry);
      StrandelFramework framework;
      return printAnswer(context, PlistValue(framework.volumeList()),
                         [&](const PlistValue& answer) { return volumesTable(answer, *volumesOptions); });
    };
  });

  CommandBuilder members = tool.subcommand("container-members", "the group of the APFS container that BSD belongs to");
  auto bsdName = std::make_shared<std::string>();
  auto asListed = std::make_shared<bool>(false);
  auto membersOptions = std::make_shared<TableOptions>();
  addTableOptions(members, *membersOptions, kGroupColumns);
  members.argument("BSD", *bsdName, "a BSD name (disk1s2 or the container disk1)");
  members.flag("--as-listed", *asListed,
                    "make a volume list first, so that the exclusion list is in force as in a host that has "
                    "listed its volumes (without it, a fresh process excludes nothing)");
  members.onChosen([&context, bsdName, asListed, membersOptions] {
    Table checked(kGroupColumns, *membersOptions);
    context.run = [&context, bsdName, asListed, membersOptions] {
      noteMissingHostService(context, HostService::DiskRegistry);
      if (*asListed) StrandelFramework().volumeList();
      return printAnswer(context, PlistValue(StrandelFramework::volumesInAPFSContainer(*bsdName)),
                         [&](const PlistValue& group) { return groupTable(group, *membersOptions); });
    };
  });

  CommandBuilder backup = tool.subcommand("is-network-backup",
                                          "whether DEVICE is the mounted disk image of a network Time Machine backup");
  auto device = std::make_shared<std::string>();
  backup.argument("DEVICE", *device, "a BSD name (disk5s1) or device path (/dev/disk5s1)");
  backup.onChosen([&context, device] {
    context.run = [&context, device] {
      noteMissingHostService(context, HostService::DiskRegistry);
      return printAnswer(context, PlistValue(isNetworkTimeMachine(*device)));
    };
  });
}

}  // namespace strandel::tool
