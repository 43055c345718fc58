#include "apfs/ApfsListing.hpp"

#include <utility>

#include "platform/Machine.hpp"
#include "plist/DictEntry.hpp"

namespace strandel::apfs {

std::optional<std::string> runAPFSListTool() {
  platform::ToolRunOptions options;
  options.tool = "/usr/sbin/diskutil";
  options.arguments = {"apfs", "list", "-plist"};
  options.environment = platform::Environment::Empty;
  // A tool that can't be started fails the lookup just as unreadable output does.
  auto output = platform::current()->processes().runTool(options);
  if (!output) return std::nullopt;
  return std::move(output->bytes);
}

std::optional<PlistDict> readAPFSListing() {
  auto output = runAPFSListTool();
  if (!output) return std::nullopt;
  auto listing = readPlist(*output);
  if (!listing || !listing->asDictionary()) return std::nullopt;
  return std::move(*listing->asDictionary());
}

std::optional<std::string_view> stringEntry(const PlistValue* node, std::string_view key) noexcept {
  const std::string* text = plist::stringAt(node, key);
  if (!text) return std::nullopt;
  return std::string_view(*text);
}

bool visitItems(const PlistArray* array, const std::function<bool(const PlistValue&)>& visit) {
  if (!array) return false;
  for (const PlistValue& item : *array) {
    if (visit(item)) return true;
  }
  return false;
}

const PlistValue* firstItem(const PlistArray* array) noexcept {
  if (!array || array->empty()) return nullptr;
  return &array->front();
}

}  // namespace strandel::apfs
