#include "apfs/ApfsListing.hpp"

#include <utility>

#include "platform/Machine.hpp"

namespace strandel {

std::optional<PlistDict> readAPFSListing() {
  platform::ToolRunOptions options;
  options.tool = "/usr/sbin/diskutil";
  options.arguments = {"apfs", "list", "-plist"};
  options.environment = platform::Environment::Empty;
  // A tool that can't be started fails the lookup just as unreadable output does.
  auto output = platform::current()->processes().runTool(options);
  if (!output) return std::nullopt;
  auto listing = readPlist(output->bytes);
  if (!listing) return std::nullopt;
  PlistDict* top = listing->asDictionary();
  if (!top) return std::nullopt;
  // Moved out, not copied: a listing of many containers is large, and the caller owns it alone.
  return std::move(*top);
}

PlistArray* listingContainers(PlistDict& listing) noexcept {
  auto it = listing.find("Containers");
  return it == listing.end() ? nullptr : it->second.asArray();
}

const std::string* stringEntry(const PlistValue& entry, std::string_view key) noexcept {
  const PlistValue* value = entry.find(key);
  return value ? value->asString() : nullptr;
}

const PlistArray* arrayEntry(const PlistValue& entry, std::string_view key) noexcept {
  const PlistValue* value = entry.find(key);
  return value ? value->asArray() : nullptr;
}

}  // namespace strandel
