// strandel registry: the machine's registry tree. In JSON and plist it is machine.plist's own
// "Registry" form, so a dump can be read back as an image; for people it is an indented tree.
#include <cctype>

#include "platform/Machine.hpp"
#include "platform/image/ImageMachine.hpp"
#include "tools/strandel/Command.hpp"

namespace strandel::tool {
namespace {

// A machine that is not an image can't show its tree through the seam (the seam has no
// "children of"); it shows each media object as an entry of its own, with its description.
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
  if (auto tree = platform::image::registryTree(*machine)) return std::move(*tree);
  return flatEntries(*machine);
}

std::string textOf(const PlistValue* value) {
  if (!value) return "";
  if (const std::string* text = value->asString()) return *text;
  if (const PlistUrl* url = value->asUrl()) return url->text;
  return "";
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  return std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
}

// The path of a mount URL, "file:///Volumes/Backup%20Disk/" giving "/Volumes/Backup Disk".
std::string mountPathOf(std::string_view url) {
  constexpr std::string_view scheme = "file://";
  if (url.size() < scheme.size()) return "";
  url.remove_prefix(scheme.size());
  std::size_t slash = url.find('/');
  if (slash == std::string_view::npos) return "";
  url.remove_prefix(slash);
  std::string path;
  for (std::size_t i = 0; i < url.size(); ++i) {
    if (url[i] == '%' && i + 2 < url.size() && std::isxdigit(static_cast<unsigned char>(url[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(url[i + 2]))) {
      path += static_cast<char>(hexValue(url[i + 1]) * 16 + hexValue(url[i + 2]));
      i += 2;
    } else {
      path += url[i];
    }
  }
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

void appendTree(std::string& out, const PlistArray& entries, int depth) {
  for (const PlistValue& entry : entries) {
    const PlistValue* description = entry.find("Description");
    const PlistValue* properties = entry.find("Properties");
    std::string line(static_cast<std::size_t>(depth) * 2, ' ');
    line += textOf(entry.find("Class"));
    std::string bsd = properties ? textOf(properties->find("BSD Name")) : "";
    if (bsd.empty() && description) bsd = textOf(description->find("DAMediaBSDName"));
    if (!bsd.empty()) line += "  " + bsd;
    if (description) {
      std::string name = textOf(description->find("DAVolumeName"));
      std::string kind = textOf(description->find("DAVolumeKind"));
      std::string url = textOf(description->find("DAVolumePath"));
      if (!name.empty()) line += "  \"" + name + "\"";
      if (!kind.empty()) line += "  " + kind;
      if (!url.empty()) {
        line += "  at " + mountPathOf(url);
      } else if (!kind.empty()) {
        line += "  not mounted";
      }
    }
    out += line;
    out += '\n';
    if (const PlistValue* children = entry.find("Children"); children && children->asArray())
      appendTree(out, *children->asArray(), depth + 1);
  }
}

std::string treeText(const PlistValue& answer) {
  const PlistArray* entries = answer.asArray();
  if (!entries || entries->empty()) return "(the registry is empty)\n";
  std::string out;
  appendTree(out, *entries, 0);
  return out;
}

}  // namespace

void addRegistryCommand(CLI::App& app, Context& context) {
  CLI::App* command = app.add_subcommand("registry", "the machine's registry tree, with each media object's description");
  command->callback([&context] {
    context.run = [&context] { return printAnswer(context, PlistValue(registryEntries()), treeText); };
  });
}

}  // namespace strandel::tool
