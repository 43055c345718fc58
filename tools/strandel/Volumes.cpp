// strandel volumes · strandel container-members BSD · strandel is-network-backup DEVICE: the
// volume catalogue.
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include <libsmartcols/libsmartcols.h>

#include <strandel/Strandel.hpp>

#include "framework/PathText.hpp"
#include "plist/DictEntry.hpp"
#include "tools/strandel/Command.hpp"
#include "tools/strandel/Found.hpp"
#include "tools/strandel/Table.hpp"

namespace strandel::tool {
namespace {

std::string textOf(const PlistValue& record, std::string_view key) {
  const std::string* text = plist::stringAt(&record, key);
  return text ? *text : std::string();
}

bool flagOf(const PlistValue& record, std::string_view key) {
  const PlistValue* value = record.find(key);
  if (!value) return false;
  if (auto flag = value->asBoolean()) return *flag;
  if (auto number = value->asInteger()) return *number != 0;
  return false;
}

enum VolumeColumn { kDevice, kName, kSize, kFormat, kMountpoint, kLocation, kRole, kContainsBoot };

// A disk utility's listing in lsblk's shape: the device names carry the tree, the sizes line up
// on the right, and the columns of free text give way first when the terminal is narrow. Every
// key of the record is a column too, named by the key, and so is the group's summary.
const ColumnSpec kVolumeColumns[] = {
    {"DEVICE", 0.1, SCOLS_FL_TREE | SCOLS_FL_NOEXTREMES,
     "the BSD name; an APFS container's line: the container", true, "bsdName"},
    {"NAME", 0.2, SCOLS_FL_TRUNC, "the volume's name", true, "volumeName"},
    {"SIZE", 5, SCOLS_FL_RIGHT, "the size (JSON: in bytes)", true, "size"},
    {"FORMAT", 0.1, SCOLS_FL_TRUNC, "the format label", true, "volumeFmt"},
    {"MOUNTPOINT", 0.2, SCOLS_FL_TRUNC, "where it is mounted", true, "volumePath"},
    {"LOCATION", 0.15, SCOLS_FL_TRUNC, "Internal or External and the connection (JSON: without it)",
     true, "location"},
    {"ROLE", 0.1, SCOLS_FL_TRUNC, "its role; a container's line: running OS when it holds it", true,
     "role"},
    {"CONTAINSBOOT", 5, 0, "whether its group holds the volume mounted at /", false},
    {"UUID", 36, 0, "the volume UUID", false, "volumeUUID"},
    {"DEVICEPATH", 0.1, SCOLS_FL_TRUNC, "record key devicePath", false, "devicePath"},
    {"BSDNAME", 0.1, SCOLS_FL_TRUNC, "record key bsdName", false, "bsdName"},
    {"VOLUMENAME", 0.2, SCOLS_FL_TRUNC, "record key volumeName", false, "volumeName"},
    {"VOLUMENAME_SIZE", 0.2, SCOLS_FL_TRUNC, "record key volumeName_Size", false,
     "volumeName_Size"},
    {"VOLUMEURL", 0.2, SCOLS_FL_TRUNC, "record key volumeURL", false, "volumeURL"},
    {"VOLUMEPATH", 0.2, SCOLS_FL_TRUNC, "record key volumePath", false, "volumePath"},
    {"VOLUMEFMT", 0.1, SCOLS_FL_TRUNC, "record key volumeFmt", false, "volumeFmt"},
    {"VOLUMEKIND", 0.1, SCOLS_FL_TRUNC, "record key volumeKind", false, "volumeKind"},
    {"VOLUMETYPE", 0.1, SCOLS_FL_TRUNC, "record key volumeType", false, "volumeType"},
    {"VOLUMEUUID", 36, 0, "record key volumeUUID", false, "volumeUUID"},
    {"MEDIAUUID", 36, 0, "record key mediaUUID", false, "mediaUUID"},
    {"CONTENT", 0.1, SCOLS_FL_TRUNC, "record key content", false, "content"},
    {"CONNECTION", 0.1, SCOLS_FL_TRUNC, "record key connection", false, "connection"},
    {"ISAPFS", 5, 0, "record key isAPFS", false, "isAPFS"},
    {"ISHFS", 5, 0, "record key isHFS", false, "isHFS"},
    {"ISMOUNTED", 5, 0, "record key isMounted", false, "isMounted"},
    {"ISBOOT", 5, 0, "record key isBoot", false, "isBoot"},
    {"ISJOURNAL", 5, 0, "record key isJournal", false, "isJournal"},
    {"ISFVAPFS", 5, 0, "record key isFVapfs", false, "isFVapfs"},
    {"TOOLTIP", 0.2, SCOLS_FL_TRUNC, "record key tooltip", false, "tooltip"},
    {"VOLUMEGROUP", 0.2, SCOLS_FL_TRUNC, "record key volumeGroup", false, "volumeGroup"},
};

void fillVolume(Table& table, const Table::Line& line, StrandelFramework& framework,
                const PlistValue& record) {
  table.setKeys(line, record);
  // What people read differs from the record's value in a few columns.
  std::uint64_t size = 0;
  if (const PlistValue* value = record.find("size")) size = value->asUnsignedInteger().value_or(0);
  table.set(line, kSize, framework.unitizedBytes(static_cast<double>(size)), PlistValue(size));
  std::string connection = textOf(record, "location");
  if (!textOf(record, "connection").empty()) connection += " " + textOf(record, "connection");
  table.set(line, kLocation, connection, PlistValue(textOf(record, "location")));
  if (!flagOf(record, "isMounted")) table.set(line, kMountpoint, "");
  if (const PlistValue* group = record.find("volumeGroup")) {
    bool boot = flagOf(*group, "containsBoot");
    table.set(line, kContainsBoot, boot ? "true" : "false", PlistValue(boot));
  }
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
    std::string container = framework::wholeDiskName(textOf(record, "bsdName"));
    auto [place, isNew] = containerAt.try_emplace(container, entries.size());
    if (isNew) entries.push_back(Entry{&record, std::move(container), {}});
    entries[place->second].members.push_back(&record);
  }
  return entries;
}

void fillVolumes(Table& table, const PlistValue& answer) {
  const PlistArray* records = answer.asArray();
  if (!records) return;
  StrandelFramework framework;
  for (const Entry& entry : groupByContainer(*records)) {
    if (entry.container.empty()) {
      fillVolume(table, table.addLine(), framework, *entry.record);
      continue;
    }
    Table::Line line = table.addLine();
    table.set(line, kDevice, entry.container);
    table.set(line, kName, "APFS container");
    if (const PlistValue* group = entry.record->find("volumeGroup");
        group && flagOf(*group, "containsBoot")) {
      table.set(line, kRole, "running OS");
      table.set(line, kContainsBoot, "true", PlistValue(true));
    }
    for (const PlistValue* member : entry.members)
      fillVolume(table, table.addLine(&line), framework, *member);
  }
}

std::string volumesText(const PlistValue& answer, Table& table) {
  const PlistArray* records = answer.asArray();
  if (!records || records->empty()) return "no volumes\n";
  return table.render();
}

enum GroupColumn {
  kMemberDevice,
  kMemberName,
  kMemberKind,
  kMemberMountpoint,
  kMemberContainsBoot
};

const ColumnSpec kGroupColumns[] = {
    {"DEVICE", 0.1, SCOLS_FL_NOEXTREMES, "the member's BSD name", true, "bsd"},
    {"NAME", 0.3, SCOLS_FL_TRUNC, "its name", true, "name"},
    {"KIND", 0.1, SCOLS_FL_TRUNC, "its volume kind", true, "kind"},
    {"MOUNTPOINT", 0.3, SCOLS_FL_TRUNC, "where it is mounted", true, "volpath"},
    {"CONTAINSBOOT", 5, 0, "the group's summary: whether it holds the volume mounted at /", false},
    {"BSD", 0.1, SCOLS_FL_TRUNC, "member key bsd", false, "bsd"},
    {"VOLPATH", 0.3, SCOLS_FL_TRUNC, "member key volpath", false, "volpath"},
    {"ISMOUNTED", 5, 0, "member key isMounted", false, "isMounted"},
};

void fillGroup(Table& table, const PlistValue& group) {
  bool boot = flagOf(group, "containsBoot");
  if (const PlistValue* volumes = group.find("volumes"); volumes && volumes->asArray()) {
    for (const PlistValue& member : *volumes->asArray()) {
      Table::Line line = table.addLine();
      table.setKeys(line, member);
      if (!flagOf(member, "isMounted")) table.set(line, kMemberMountpoint, "");
      table.set(line, kMemberContainsBoot, boot ? "true" : "false", PlistValue(boot));
    }
  }
}

std::string groupText(const PlistValue& group, Table& table) {
  std::string out = table.render();
  out += flagOf(group, "containsBoot") ? "holds the running system\n"
                                       : "does not hold the running system\n";
  return out;
}

}  // namespace

void addVolumesCommands(CommandBuilder& tool, Context& context) {
  addTableCommand(
      tool, context, "volumes", "the volume list: one record per volume a user would pick",
      {kVolumeColumns, fillVolumes, volumesText}, [](const Context& c, const auto& show) {
        TableAnswer shown = show(PlistValue(StrandelFramework().volumeList()));
        return printAnswer(c, shown.answer, shown.text, shown.json);
      });

  auto bsdName = std::make_shared<std::string>();
  auto asListed = std::make_shared<bool>(false);
  CommandBuilder members = addTableCommand(
      tool, context, "container-members", "the group of the APFS container that BSD belongs to",
      {kGroupColumns, fillGroup, groupText},
      [bsdName, asListed](const Context& c, const auto& show) {
        if (*asListed) StrandelFramework().volumeList();
        TableAnswer shown = show(PlistValue(StrandelFramework::volumesInAPFSContainer(*bsdName)));
        return printAnswerAbout(c, shown.answer, deviceExists(c, *bsdName),
                                "no device '" + *bsdName + "'", shown.text, shown.json);
      });
  members.argument("BSD", *bsdName, "a BSD name (disk1s2 or the container disk1)");
  members.flag(
      "--as-listed", *asListed,
      "make a volume list first, so that the exclusion list is in force as in a host that has "
      "listed its volumes (without it, a fresh process excludes nothing)");

  CommandBuilder backup =
      tool.subcommand("is-network-backup",
                      "whether DEVICE is the mounted disk image of a network Time Machine backup");
  auto device = std::make_shared<std::string>();
  backup.argument("DEVICE", *device, "a BSD name (disk5s1) or device path (/dev/disk5s1)");
  backup.onChosen([&context, device] {
    context.run = [&context, device] {
      noteMissingHostService(context, HostService::DiskRegistry);
      bool backup = isNetworkTimeMachine(*device);
      return printAnswerAbout(context, PlistValue(backup), backup || deviceExists(context, *device),
                              "no device '" + *device + "'");
    };
  });
}

}  // namespace strandel::tool
