// strandel registry: the machine's registry tree. In JSON and plist it is machine.plist's own
// "Registry" form, so a dump can be read back as an image; for people it is a tree table.
#include <memory>

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
    if (auto bsd = registry.searchProperty(object, "BSD Name")) entry["Properties"] = PlistDict{{"BSD Name", *bsd}};
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

enum RegistryColumn { kClass, kDevice, kName, kKind, kMountpoint };

const ColumnSpec kRegistryColumns[] = {
    {"CLASS", 0.3, SCOLS_FL_TREE | SCOLS_FL_TRUNC},
    {"DEVICE", 0.1, SCOLS_FL_NOEXTREMES},
    {"NAME", 0.2, SCOLS_FL_TRUNC},
    {"KIND", 0.05, SCOLS_FL_TRUNC},
    {"MOUNTPOINT", 0.2, SCOLS_FL_TRUNC},
};

void addEntries(Table& table, libscols_line* parent, const PlistArray& entries) {
  for (const PlistValue& entry : entries) {
    const PlistValue* description = entry.find("Description");
    const PlistValue* properties = entry.find("Properties");
    libscols_line* line = table.addLine(parent);
    table.set(line, kClass, textOf(entry.find("Class")));
    std::string bsd = properties ? textOf(properties->find("BSD Name")) : "";
    if (bsd.empty() && description) bsd = textOf(description->find("DAMediaBSDName"));
    table.set(line, kDevice, bsd);
    if (description) {
      table.set(line, kName, textOf(description->find("DAVolumeName")));
      table.set(line, kKind, textOf(description->find("DAVolumeKind")));
      table.set(line, kMountpoint, detail::urlPath(textOf(description->find("DAVolumePath"))));
    }
    if (const PlistValue* children = entry.find("Children"); children && children->asArray())
      addEntries(table, line, *children->asArray());
  }
}

std::string treeText(const PlistValue& answer, const TableOptions& options) {
  const PlistArray* entries = answer.asArray();
  if (!entries || entries->empty()) return "(the registry is empty)\n";
  Table table(kRegistryColumns, options);
  addEntries(table, nullptr, *entries);
  return table.render();
}

}  // namespace

void addRegistryCommand(CommandBuilder& tool, Context& context) {
  CommandBuilder command = tool.subcommand("registry", "the machine's registry tree, with each media object's description");
  auto options = std::make_shared<TableOptions>();
  addTableOptions(command, *options, kRegistryColumns);
  command.onChosen([&context, options] {
    Table checked(kRegistryColumns, *options);  // an unknown column is a usage error now
    context.run = [&context, options] {
      noteMissingHostService(context, HostService::DiskRegistry);
      return printAnswer(context, PlistValue(registryEntries()),
                         [&](const PlistValue& answer) { return treeText(answer, *options); });
    };
  });
}

}  // namespace strandel::tool
