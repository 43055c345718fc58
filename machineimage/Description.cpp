// The disk descriptions of an image: each known key checked for its type, and turned once, at
// load time, into the form the disk arbitration service hands out, so that giving a
// description later is one dictionary copy.
#include <algorithm>
#include <array>
#include <cctype>
#include <utility>

#include "machineimage/Checking.hpp"
#include "machineimage/MachinePlist.hpp"
#include "text/CharacterClass.hpp"

namespace strandel::machineimage {
namespace {

enum class KeyType { String, Boolean, Integer, Uuid, FileUrl };

constexpr std::array<std::pair<std::string_view, KeyType>, 20> kDescriptionKeys{{
    {"DAMediaBSDName", KeyType::String},    {"DAVolumeName", KeyType::String},
    {"DAVolumeKind", KeyType::String},      {"DAVolumeType", KeyType::String},
    {"DAMediaContent", KeyType::String},    {"DAMediaType", KeyType::String},
    {"DADeviceProtocol", KeyType::String},  {"DAMediaName", KeyType::String},
    {"DADeviceModel", KeyType::String},     {"DADeviceInternal", KeyType::Boolean},
    {"DAMediaWhole", KeyType::Boolean},     {"DAMediaLeaf", KeyType::Boolean},
    {"DAMediaRemovable", KeyType::Boolean}, {"DAMediaEjectable", KeyType::Boolean},
    {"DAVolumeNetwork", KeyType::Boolean},  {"DAMediaSize", KeyType::Integer},
    {"DAMediaBlockSize", KeyType::Integer}, {"DAVolumeUUID", KeyType::Uuid},
    {"DAMediaUUID", KeyType::Uuid},         {"DAVolumePath", KeyType::FileUrl},
}};

bool isHex(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

// What RFC 3986 lets stand unescaped in a path: unreserved, sub-delims, ":", "@" and "/".
bool isPathCharacter(char c) {
  if (std::isalnum(static_cast<unsigned char>(c)) && static_cast<unsigned char>(c) < 0x80)
    return true;
  return std::string_view("-._~!$&'()*+,;=:@/").find(c) != std::string_view::npos;
}

std::string expected(std::string_view what, const PlistValue& found) {
  return "expected " + std::string(what) + ", found " + std::string(kindName(found));
}

}  // namespace

std::optional<std::string> canonicalUuid(std::string_view text) {
  if (text.size() != 36) return std::nullopt;
  std::string out(text);
  for (std::size_t i = 0; i < out.size(); ++i) {
    bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash ? out[i] != '-' : !isHex(out[i])) return std::nullopt;
    out[i] = text::asciiUpper(out[i]);
  }
  return out;
}

std::optional<std::string> fileUrlProblem(std::string_view text) {
  constexpr std::string_view scheme = "file://";
  if (text.size() < scheme.size()) return "not a file:// URL";
  for (std::size_t i = 0; i < scheme.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != scheme[i]) return "not a file:// URL";
  }
  std::string_view rest = text.substr(scheme.size());
  std::size_t slash = rest.find('/');
  if (slash == std::string_view::npos) return "no path";
  std::string_view host = rest.substr(0, slash);
  // The service names the local machine by leaving the host out; "localhost" means the same.
  if (!host.empty() && host != "localhost") return "a host other than this machine";
  std::string_view path = rest.substr(slash);
  for (std::size_t i = 0; i < path.size(); ++i) {
    char c = path[i];
    if (c == '%') {
      if (i + 2 >= path.size()) return "a cut %-escape";
      if (!isHex(path[i + 1]) || !isHex(path[i + 2])) return "a bad %-escape";
      i += 2;
    } else if (c == ' ') {
      return "a blank, which is written %20";
    } else if (!isPathCharacter(c)) {
      return "a character that must be %-escaped";
    }
  }
  return std::nullopt;
}

std::optional<std::string> prepareDescription(PlistDict& description, const Place& place) {
  // One walk over the description finds every known key (a description holds some thirty, and
  // twenty searches cost several times one walk); they are then checked in the table's order,
  // so that of several faults the same one is named.
  static const auto kSorted = [] {
    std::array<std::size_t, kDescriptionKeys.size()> order;
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [](std::size_t a, std::size_t b) {
      return kDescriptionKeys[a].first < kDescriptionKeys[b].first;
    });
    return order;
  }();
  std::array<PlistDict::iterator, kDescriptionKeys.size()> found;
  found.fill(description.end());
  std::size_t next = 0;
  for (auto it = description.begin(); it != description.end() && next < kSorted.size(); ++it) {
    std::string_view key = it->first;
    while (next < kSorted.size() && kDescriptionKeys[kSorted[next]].first < key) ++next;
    if (next < kSorted.size() && kDescriptionKeys[kSorted[next]].first == key)
      found[kSorted[next++]] = it;
  }
  for (std::size_t index = 0; index < kDescriptionKeys.size(); ++index) {
    auto it = found[index];
    if (it == description.end()) continue;
    const auto& [key, type] = kDescriptionKeys[index];
    PlistValue& value = it->second;
    Place at(place, key);
    auto refuse = [&](std::string what) { return at.text() + ": " + what; };
    switch (type) {
      case KeyType::String:
        if (!value.asString()) return refuse(expected("a string", value));
        break;
      case KeyType::Boolean:
        if (!value.asBoolean()) return refuse(expected("a boolean", value));
        break;
      case KeyType::Integer:
        if (!value.asInteger() && !value.asUnsignedInteger())
          return refuse(expected("an integer", value));
        break;
      case KeyType::Uuid: {
        const std::string* text = value.asString();
        if (!text) return refuse(expected("a UUID", value));
        auto canonical = canonicalUuid(*text);
        if (!canonical) return refuse("expected a UUID, found " + quoted(*text));
        value = PlistValue(std::move(*canonical));
        break;
      }
      case KeyType::FileUrl: {
        const std::string* text = value.asString();
        if (!text) return refuse(expected("a file URL", value));
        if (auto problem = fileUrlProblem(*text))
          return refuse("expected a file URL, found " + quoted(*text) + " (" + *problem + ")");
        value = PlistValue(PlistUrl{*text});
        break;
      }
    }
  }
  return std::nullopt;
}

}  // namespace strandel::machineimage
