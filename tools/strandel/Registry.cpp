// strandel registry: the machine's registry tree. In JSON and plist it is machine.plist's own
// "Registry" form, so a dump can be read back as an image; for people it is a tree table.

#include <libsmartcols/libsmartcols.h>

#include "platform/Machine.hpp"
#include "text/UrlPath.hpp"
#include "tools/strandel/Command.hpp"
#include "tools/strandel/Table.hpp"

namespace strandel::tool {
namespace {

// A machine that can't walk its tree shows each media object as an entry of its own, with its
// description.
PlistArray flatEntries(platform::Machine& machine) {
  PlistArray entries;
  platform::Registry& registry = machine.registry();
  for (platform::RegistryObject object : registry.mediaObjects()) {
    PlistDict entry;
    entry["Class"] = registry.className(object);
    if (auto bsd = registry.searchProperty(object, "BSD Name"))
      entry["Properties"] = PlistDict{{"BSD Name", *bsd}};
    if (auto description = registry.description(object)) entry["Description"] = *description;
    entries.emplace_back(std::move(entry));
  }
  return entries;
}

PlistArray registryEntries() {
  auto machine = platform::current();
  if (!machine) return {};
  if (auto tree = machine->registry().tree()) return std::move(*tree);
  return flatEntries(*machine);
}

std::string textOf(const PlistValue* value) {
  if (!value) return "";
  if (const std::string* text = value->asString()) return *text;
  if (const PlistUrl* url = value->asUrl()) return url->text;
  return "";
}

enum RegistryColumn { kClass, kDevice, kName, kKind, kMountpoint, kIOMedia };

// The description keys the library reads, each a column of its own named by the key.
const ColumnSpec kRegistryColumns[] = {
    {"CLASS", 0.3, SCOLS_FL_TREE | SCOLS_FL_TRUNC, "the registry class", true},
    {"DEVICE", 0.1, SCOLS_FL_NOEXTREMES, "the BSD name", true},
    {"NAME", 0.2, SCOLS_FL_TRUNC, "the volume's name", true, "DAVolumeName"},
    {"KIND", 0.05, SCOLS_FL_TRUNC, "the volume kind", true, "DAVolumeKind"},
    {"MOUNTPOINT", 0.2, SCOLS_FL_TRUNC, "where it is mounted", true},
    {"IOMEDIA", 5, 0, "whether the entry is a media object", false},
    {"DAMEDIABSDNAME", 0.1, SCOLS_FL_TRUNC, "description key DAMediaBSDName", false,
     "DAMediaBSDName"},
    {"DAVOLUMENAME", 0.2, SCOLS_FL_TRUNC, "description key DAVolumeName", false, "DAVolumeName"},
    {"DAVOLUMEKIND", 0.05, SCOLS_FL_TRUNC, "description key DAVolumeKind", false, "DAVolumeKind"},
    {"DAVOLUMETYPE", 0.1, SCOLS_FL_TRUNC, "description key DAVolumeType", false, "DAVolumeType"},
    {"DAVOLUMEUUID", 36, 0, "description key DAVolumeUUID", false, "DAVolumeUUID"},
    {"DAMEDIAUUID", 36, 0, "description key DAMediaUUID", false, "DAMediaUUID"},
    {"DAMEDIACONTENT", 0.1, SCOLS_FL_TRUNC, "description key DAMediaContent", false,
     "DAMediaContent"},
    {"DADEVICEPROTOCOL", 0.1, SCOLS_FL_TRUNC, "description key DADeviceProtocol", false,
     "DADeviceProtocol"},
    {"DAMEDIATYPE", 0.1, SCOLS_FL_TRUNC, "description key DAMediaType", false, "DAMediaType"},
    {"DADEVICEINTERNAL", 5, 0, "description key DADeviceInternal", false, "DADeviceInternal"},
    {"DAMEDIASIZE", 5, SCOLS_FL_RIGHT, "description key DAMediaSize", false, "DAMediaSize"},
    {"DAVOLUMEPATH", 0.2, SCOLS_FL_TRUNC, "description key DAVolumePath", false, "DAVolumePath"},
};

void addEntries(Table& table, const Table::Line* parent, const PlistArray& entries) {
  for (const PlistValue& entry : entries) {
    const PlistValue* description = entry.find("Description");
    const PlistValue* properties = entry.find("Properties");
    Table::Line line = table.addLine(parent);
    table.set(line, kClass, textOf(entry.find("Class")));
    if (const PlistValue* media = entry.find("IOMedia"))
      table.set(line, kIOMedia, cellText(*media), *media);
    std::string bsd = properties ? textOf(properties->find("BSD Name")) : "";
    if (bsd.empty() && description) bsd = textOf(description->find("DAMediaBSDName"));
    table.set(line, kDevice, bsd);
    if (description) {
      table.setKeys(line, *description);
      table.set(line, kMountpoint, text::urlPath(textOf(description->find("DAVolumePath"))));
    }
    if (const PlistValue* children = entry.find("Children"); children && children->asArray())
      addEntries(table, &line, *children->asArray());
  }
}

void fillTree(Table& table, const PlistValue& answer) {
  if (const PlistArray* entries = answer.asArray()) addEntries(table, nullptr, *entries);
}

std::string treeText(const PlistValue& answer, Table& table) {
  const PlistArray* entries = answer.asArray();
  if (!entries || entries->empty()) return "(the registry is empty)\n";
  return table.render();
}

}  // namespace

void addRegistryCommand(CommandBuilder& tool, Context& context) {
  addTableCommand(tool, context, "registry",
                  "the machine's registry tree, with each media object's description",
                  {kRegistryColumns, fillTree, treeText}, [](const Context& c, const auto& show) {
                    TableAnswer shown = show(PlistValue(registryEntries()));
                    return printAnswer(c, shown.answer, shown.text, shown.json);
                  });
}

}  // namespace strandel::tool
