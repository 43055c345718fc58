// Checking machine.plist whole before anything answers from it: an image is outside input,
// and a mistake in it is far easier to fix from one line naming its place than from a wrong
// answer three layers up.
#include "machineimage/MachinePlist.hpp"

#include <cstdint>
#include <utility>

#include "machineimage/Checking.hpp"
#include "machineimage/Keys.hpp"
#include "plist/PlistReader.hpp"

namespace strandel::machineimage {
namespace {

// Registry objects are numbered with 32 bits; no real registry comes near this.
constexpr std::size_t kMaxEntries = 1u << 24;

class Checker {
 public:
  MachinePlistResult run(PlistValue value) {
    if (!checkTop(value)) return {nullptr, std::move(error_)};
    return {std::make_shared<const MachinePlist>(std::move(out_)), {}};
  }

 private:
  bool fail(const Place& place, std::string what) {
    error_ = place.text() + ": " + what;
    return false;
  }
  bool wrongKind(const Place& place, std::string_view wanted, const PlistValue& found) {
    return fail(place,
                "expected " + std::string(wanted) + ", found " + std::string(kindName(found)));
  }
  bool missing(const Place& place) { return fail(place, "missing"); }

  bool checkTop(PlistValue& value) {
    Place top;
    PlistDict* dict = value.asDictionary();
    if (!dict) return wrongKind(top, "a dictionary", value);

    Place registryPlace(top, key::kRegistry);
    auto registry = dict->find(key::kRegistry);
    if (registry == dict->end()) return missing(registryPlace);
    if (!checkEntries(registry->second, registryPlace, kNoParent)) return false;

    Place mountsPlace(top, key::kMounts);
    auto mounts = dict->find(key::kMounts);
    if (mounts == dict->end()) return missing(mountsPlace);
    PlistArray* mountArray = mounts->second.asArray();
    if (!mountArray) return wrongKind(mountsPlace, "an array", mounts->second);
    out_.mounts.reserve(mountArray->size());
    for (std::size_t i = 0; i < mountArray->size(); ++i) {
      if (!checkMount((*mountArray)[i], Place(mountsPlace, i))) return false;
    }

    if (auto user = dict->find(key::kUserName); user != dict->end()) {
      Place userPlace(top, key::kUserName);
      const std::string* name = user->second.asString();
      if (!name) return wrongKind(userPlace, "a string", user->second);
      // An empty name is a slip of the pen, not an account; leaving the key out means the host's.
      if (name->empty()) return fail(userPlace, "expected an account name, found an empty string");
      out_.userName = *name;
    }
    return true;
  }

  bool checkEntries(PlistValue& value, const Place& place, std::uint32_t parent) {
    PlistArray* entries = value.asArray();
    if (!entries) return wrongKind(place, "an array", value);
    for (std::size_t i = 0; i < entries->size(); ++i) {
      if (!checkEntry((*entries)[i], Place(place, i), parent)) return false;
    }
    return true;
  }

  bool checkEntry(PlistValue& value, const Place& place, std::uint32_t parent) {
    PlistDict* dict = value.asDictionary();
    if (!dict) return wrongKind(place, "a dictionary", value);
    if (out_.nodes.size() >= kMaxEntries)
      return fail(place, "more registry entries than an image may hold");

    RegistryNode node;
    node.parent = parent;

    Place classPlace(place, key::kClass);
    auto className = dict->find(key::kClass);
    if (className == dict->end()) return missing(classPlace);
    const std::string* name = className->second.asString();
    if (!name) return wrongKind(classPlace, "a string", className->second);
    if (name->empty()) return fail(classPlace, "expected a class name, found an empty string");
    node.className = *name;

    if (auto properties = dict->find(key::kProperties); properties != dict->end()) {
      Place propertiesPlace(place, key::kProperties);
      PlistDict* props = properties->second.asDictionary();
      if (!props) return wrongKind(propertiesPlace, "a dictionary", properties->second);
      if (!checkProperties(*props, propertiesPlace)) return false;
      node.properties = std::move(*props);
    }

    if (auto description = dict->find(key::kDescription); description != dict->end()) {
      Place descriptionPlace(place, key::kDescription);
      PlistDict* desc = description->second.asDictionary();
      if (!desc) return wrongKind(descriptionPlace, "a dictionary", description->second);
      if (auto problem = prepareDescription(*desc, descriptionPlace)) {
        error_ = std::move(*problem);
        return false;
      }
      node.description = std::move(*desc);
    }

    node.isMedia = node.description.has_value();
    if (auto media = dict->find(key::kIOMedia); media != dict->end()) {
      auto flag = media->second.asBoolean();
      if (!flag) return wrongKind(Place(place, key::kIOMedia), "a boolean", media->second);
      node.isMedia = *flag;
      node.mediaGiven = true;
    }

    auto index = static_cast<std::uint32_t>(out_.nodes.size());
    out_.nodes.push_back(std::move(node));
    if (auto children = dict->find(key::kChildren); children != dict->end()) {
      if (!checkEntries(children->second, Place(place, key::kChildren), index)) return false;
    }
    out_.nodes[index].end = static_cast<std::uint32_t>(out_.nodes.size());
    return true;
  }

  // Only the properties whose type the library relies on are checked; the rest are the
  // registry's own business and kept as they are.
  bool checkProperties(const PlistDict& properties, const Place& place) {
    if (auto bsd = properties.find("BSD Name"); bsd != properties.end() && !bsd->second.asString())
      return wrongKind(Place(place, "BSD Name"), "a string", bsd->second);
    if (auto role = properties.find("Role"); role != properties.end()) {
      Place rolePlace(place, "Role");
      const PlistArray* roles = role->second.asArray();
      if (!roles) return wrongKind(rolePlace, "an array", role->second);
      for (std::size_t i = 0; i < roles->size(); ++i) {
        if (!(*roles)[i].asString()) return wrongKind(Place(rolePlace, i), "a string", (*roles)[i]);
      }
    }
    return true;
  }

  bool checkMount(PlistValue& value, const Place& place) {
    PlistDict* dict = value.asDictionary();
    if (!dict) return wrongKind(place, "a dictionary", value);
    auto on = name(*dict, key::kMountedOn, place);
    if (!on) return false;
    auto from = name(*dict, key::kMountedFrom, place);
    if (!from) return false;
    auto type = name(*dict, key::kFsType, place);
    if (!type) return false;
    auto blockSize = count(*dict, key::kBlockSize, place, UINT32_MAX);
    if (!blockSize) return false;
    auto blocks = count(*dict, key::kBlocks, place, UINT64_MAX);
    if (!blocks) return false;
    auto freeBlocks = count(*dict, key::kFreeBlocks, place, UINT64_MAX);
    if (!freeBlocks) return false;
    out_.mounts.push_back(
        MountRecord{std::move(*on), std::move(*from), std::move(*type),
                    FsFigures{static_cast<std::uint32_t>(*blockSize), *blocks, *freeBlocks}});
    return true;
  }

  // A name of the mount table is a string, or data for bytes that are not UTF-8. Nothing when
  // it is refused (the error is then set).
  std::optional<std::string> name(PlistDict& dict, std::string_view key, const Place& place) {
    Place at(place, key);
    auto it = dict.find(key);
    if (it == dict.end()) {
      missing(at);
      return std::nullopt;
    }
    std::string out;
    if (const std::string* text = it->second.asString()) {
      out = *text;
    } else if (const PlistData* data = it->second.asData()) {
      out.assign(data->bytes.begin(), data->bytes.end());
    } else {
      wrongKind(at, "a string or data", it->second);
      return std::nullopt;
    }
    // The kernel keeps these names as C strings: a NUL would cut them.
    if (out.find('\0') != std::string::npos) {
      fail(at, "holds a NUL byte");
      return std::nullopt;
    }
    return out;
  }

  // A block count or size from 0 to `maximum`; nothing when it is refused (the error is then set).
  std::optional<std::uint64_t> count(const PlistDict& dict, std::string_view key,
                                     const Place& place, std::uint64_t maximum) {
    Place at(place, key);
    auto it = dict.find(key);
    if (it == dict.end()) {
      missing(at);
      return std::nullopt;
    }
    auto outOfRange = [&](const std::string& found) {
      fail(at, "expected an integer from 0 to " + std::to_string(maximum) + ", found " + found);
      return std::nullopt;
    };
    if (auto value = it->second.asInteger()) {
      if (*value < 0 || static_cast<std::uint64_t>(*value) > maximum)
        return outOfRange(std::to_string(*value));
      return static_cast<std::uint64_t>(*value);
    }
    if (auto value = it->second.asUnsignedInteger()) {
      if (*value > maximum) return outOfRange(std::to_string(*value));
      return *value;
    }
    wrongKind(at, "an integer", it->second);
    return std::nullopt;
  }

  MachinePlist out_;
  std::string error_;
};

}  // namespace

MachinePlistResult parseMachinePlist(std::string_view bytes) {
  plist::PlistReadResult read = plist::readPlistExplained(bytes);
  if (!read.value) return {nullptr, "not a property list (" + read.refusal + ")"};
  return checkMachinePlist(std::move(*read.value));
}

MachinePlistResult parseMachinePlistFile(std::string bytes) {
  plist::PlistReadResult read = plist::readPlistExplained(bytes);
  std::string().swap(bytes);
  if (!read.value) return {nullptr, "not a property list (" + read.refusal + ")"};
  return checkMachinePlist(std::move(*read.value));
}

MachinePlistResult checkMachinePlist(PlistValue value) { return Checker().run(std::move(value)); }

}  // namespace strandel::machineimage
