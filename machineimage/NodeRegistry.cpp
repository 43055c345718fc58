// A registry answered from a checked registry tree: an image's, or the live host's as the
// Linux backend builds it. Everything a lookup needs is worked out once when the tree is
// loaded, and descriptions are handed out without a copy, so that the volume list over a large
// registry costs little more than reading the descriptions it asks for.
#include <functional>
#include <unordered_map>

#include "machineimage/NodeRegistry.hpp"
#include "machineimage/Writer.hpp"

namespace strandel::machineimage {
namespace {

struct TextHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view text) const noexcept {
    return std::hash<std::string_view>{}(text);
  }
};

using platform::Registry;
using platform::RegistryObject;

// One of 64 marks for a property name, from its length and its first and last bytes: names
// with different marks differ, so a node whose summary lacks a name's mark lacks the name.
std::uint64_t nameMark(std::string_view name) noexcept {
  if (name.empty()) return 1;
  auto byte = [](char c) { return static_cast<unsigned char>(c); };
  return std::uint64_t{1} << ((name.size() * 7 + byte(name.front()) * 3 + byte(name.back())) % 64);
}

class NodeRegistry final : public Registry {
 public:
  explicit NodeRegistry(std::shared_ptr<const MachinePlist> plist) : plist_(std::move(plist)) {
    const auto& nodes = plist_->nodes;
    // A search for a property walks up to the root; the names it asks for are mostly absent
    // all the way, and a summary of each node's names answers that without a lookup.
    names_.reserve(nodes.size());
    for (const RegistryNode& node : nodes) {
      std::uint64_t names = 0;
      for (const auto& entry : node.properties) names |= nameMark(entry.first);
      names_.push_back(names);
    }
    for (std::uint32_t i = 0; i < nodes.size(); ++i) {
      if (!nodes[i].isMedia) continue;
      media_.push_back(RegistryObject{i + 1});
      if (auto name = bsdNameOf(nodes[i])) mediaByBsdName_.try_emplace(std::string(*name), i);
    }
  }

  std::vector<RegistryObject> mediaObjects() override { return media_; }

  std::optional<RegistryObject> mediaObjectForBSDName(std::string_view bsdName) override {
    auto it = mediaByBsdName_.find(bsdName);
    if (it == mediaByBsdName_.end()) return std::nullopt;
    return RegistryObject{it->second + 1};
  }

  std::vector<RegistryObject> descendants(RegistryObject object) override {
    std::vector<RegistryObject> below;
    const RegistryNode* node = find(object);
    if (!node) return below;
    below.reserve(node->end - object.id);
    for (std::uint32_t i = object.id; i < node->end; ++i) below.push_back(RegistryObject{i + 1});
    return below;
  }

  std::string className(RegistryObject object) override {
    const RegistryNode* node = find(object);
    return node ? node->className : std::string();
  }

  std::optional<PlistValue> searchProperty(RegistryObject object, std::string_view name) override {
    std::uint64_t mark = nameMark(name);
    for (const RegistryNode* node = find(object); node;
         node = node->parent == kNoParent ? nullptr : &plist_->nodes[node->parent]) {
      if (!(names_[node - plist_->nodes.data()] & mark)) continue;
      auto it = node->properties.find(name);
      if (it != node->properties.end()) return it->second;
    }
    return std::nullopt;
  }

  // The description lives as long as the loaded image; the pointer shares the image's ownership.
  std::shared_ptr<const PlistDict> description(RegistryObject object) override {
    const RegistryNode* node = find(object);
    if (!node || !node->description) return nullptr;
    return std::shared_ptr<const PlistDict>(plist_, &*node->description);
  }

  std::shared_ptr<const PlistDict> descriptionForBSDName(std::string_view bsdName) override {
    auto object = mediaObjectForBSDName(bsdName);
    if (!object) return nullptr;
    return description(*object);
  }

  std::optional<PlistArray> tree() override {
    PlistArray roots;
    for (std::uint32_t index = 0; index < plist_->nodes.size(); index = plist_->nodes[index].end)
      roots.emplace_back(entryValue(index));
    return roots;
  }

 private:
  // The "BSD Name" property names a media object; an entry without it goes by its
  // description's DAMediaBSDName, as a disk object made from it would.
  static std::optional<std::string_view> bsdNameOf(const RegistryNode& node) {
    if (auto it = node.properties.find("BSD Name"); it != node.properties.end()) {
      const std::string* name = it->second.asString();
      return name ? std::optional<std::string_view>(*name) : std::nullopt;
    }
    if (!node.description) return std::nullopt;
    auto it = node.description->find("DAMediaBSDName");
    if (it == node.description->end() || !it->second.asString()) return std::nullopt;
    return std::string_view(*it->second.asString());
  }

  PlistDict entryValue(std::uint32_t index) const {
    const RegistryNode& node = plist_->nodes[index];
    PlistArray children;
    for (std::uint32_t child = index + 1; child < node.end; child = plist_->nodes[child].end)
      children.emplace_back(entryValue(child));
    return registryEntry(node.className,
                         node.mediaGiven ? std::optional<bool>(node.isMedia) : std::nullopt,
                         node.properties, node.description, std::move(children));
  }

  const RegistryNode* find(RegistryObject object) const {
    if (object.id == 0 || object.id > plist_->nodes.size()) return nullptr;
    return &plist_->nodes[object.id - 1];
  }

  std::shared_ptr<const MachinePlist> plist_;
  std::vector<std::uint64_t> names_;  // each node's property names, as nameMark summarises them
  std::vector<RegistryObject> media_;
  std::unordered_map<std::string, std::uint32_t, TextHash, std::equal_to<>> mediaByBsdName_;
};

}  // namespace

std::unique_ptr<platform::Registry> makeNodeRegistry(std::shared_ptr<const MachinePlist> plist) {
  return std::make_unique<NodeRegistry>(std::move(plist));
}

}  // namespace strandel::machineimage
