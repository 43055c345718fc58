#include "apfs/ApfsListing.hpp"

#include <cstdint>
#include <cstdlib>
#include <utility>

#include "platform/Machine.hpp"

namespace strandel {
namespace {

struct ArrayIterTraits {
  static plist_array_iter invalid() noexcept { return nullptr; }
  static void free(plist_array_iter iter) noexcept { std::free(iter); }
};
using ArrayIter = platform::ScopedGeneric<plist_array_iter, ArrayIterTraits>;

bool isOfType(plist_t node, plist_type type) noexcept { return node && plist_get_node_type(node) == type; }

plist_t entry(plist_t node, const char* key, plist_type type) noexcept {
  if (!isOfType(node, PLIST_DICT)) return nullptr;
  plist_t value = plist_dict_get_item(node, key);
  return isOfType(value, type) ? value : nullptr;
}

}  // namespace

PlistTree readAPFSListingTree() {
  platform::ToolRunOptions options;
  options.tool = "/usr/sbin/diskutil";
  options.arguments = {"apfs", "list", "-plist"};
  options.environment = platform::Environment::Empty;
  // A tool that can't be started fails the lookup just as unreadable output does.
  auto output = platform::current()->processes().runTool(options);
  if (!output) return PlistTree();
  PlistTree listing = parsePlistTree(output->bytes);
  if (!isOfType(listing.get(), PLIST_DICT)) return PlistTree();
  return listing;
}

std::optional<PlistDict> readAPFSListing() {
  PlistTree tree = readAPFSListingTree();
  auto listing = plistValueFromNode(tree.get());
  if (!listing || !listing->asDictionary()) return std::nullopt;
  return std::move(*listing->asDictionary());
}

std::optional<std::string_view> stringEntry(plist_t node, const char* key) noexcept {
  plist_t value = entry(node, key, PLIST_STRING);
  if (!value) return std::nullopt;
  std::uint64_t length = 0;
  const char* text = plist_get_string_ptr(value, &length);
  if (!text) return std::nullopt;
  return std::string_view(text, length);
}

plist_t arrayEntry(plist_t node, const char* key) noexcept { return entry(node, key, PLIST_ARRAY); }

bool visitItems(plist_t array, const std::function<bool(plist_t)>& visit) {
  if (!isOfType(array, PLIST_ARRAY)) return false;
  // The iterator walks the items in order; indexing each one would walk the list again.
  ArrayIter iter;
  plist_array_new_iter(array, iter.receive());
  if (!iter) return false;
  for (;;) {
    plist_t item = nullptr;
    plist_array_next_item(array, iter.get(), &item);
    if (!item) return false;
    if (visit(item)) return true;
  }
}

plist_t firstItem(plist_t array) noexcept {
  if (!isOfType(array, PLIST_ARRAY) || plist_array_get_size(array) == 0) return nullptr;
  return plist_array_get_item(array, 0);
}

}  // namespace strandel
