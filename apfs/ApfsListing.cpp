#include "apfs/ApfsListing.hpp"

#include <utility>

#include "platform/Machine.hpp"

using namespace strandel::detail;

namespace strandel {

std::optional<std::string> detail::runAPFSListTool() {
  platform::ToolRunOptions options;
  options.tool = "/usr/sbin/diskutil";
  options.arguments = {"apfs", "list", "-plist"};
  options.environment = platform::Environment::Empty;
  // A tool that can't be started fails the lookup just as unreadable output does.
  auto output = platform::current()->processes().runTool(options);
  if (!output) return std::nullopt;
  return std::move(output->bytes);
}

std::optional<PlistDict> detail::readAPFSListing() {
  auto output = runAPFSListTool();
  if (!output) return std::nullopt;
  auto listing = readPlist(*output);
  if (!listing || !listing->asDictionary()) return std::nullopt;
  return std::move(*listing->asDictionary());
}

std::optional<std::string_view> detail::stringEntry(const PlistValue* node, std::string_view key) noexcept {
  const PlistValue* value = node ? node->find(key) : nullptr;
  const std::string* text = value ? value->asString() : nullptr;
  if (!text) return std::nullopt;
  return std::string_view(*text);
}

const PlistArray* detail::arrayEntry(const PlistValue* node, std::string_view key) noexcept {
  const PlistValue* value = node ? node->find(key) : nullptr;
  return value ? value->asArray() : nullptr;
}

const PlistArray* detail::arrayEntry(const PlistDict& dict, std::string_view key) noexcept {
  auto found = dict.find(key);
  return found == dict.end() ? nullptr : found->second.asArray();
}

bool detail::visitItems(const PlistArray* array, const std::function<bool(const PlistValue&)>& visit) {
  if (!array) return false;
  for (const PlistValue& item : *array) {
    if (visit(item)) return true;
  }
  return false;
}

const PlistValue* detail::firstItem(const PlistArray* array) noexcept {
  if (!array || array->empty()) return nullptr;
  return &array->front();
}

}  // namespace strandel
