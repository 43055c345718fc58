#include "framework/DescriptionValues.hpp"

#include <bit>
#include <cmath>
#include <cstring>
#include <iterator>
#include <utility>

namespace strandel {

namespace {

// The byte-wise order of two short keys, inline and eight bytes at a time: description keys
// share long prefixes ("DAMedia", "DAVolume"), where a byte loop or a library call would cost
// more than the bytes themselves.
int compareKeys(std::string_view a, std::string_view b) noexcept {
  std::size_t common = a.size() < b.size() ? a.size() : b.size(), i = 0;
  for (; i + 8 <= common; i += 8) {
    std::uint64_t x, y;
    std::memcpy(&x, a.data() + i, 8);
    std::memcpy(&y, b.data() + i, 8);
    if (x == y) continue;
    if constexpr (std::endian::native == std::endian::little) {
      x = __builtin_bswap64(x);
      y = __builtin_bswap64(y);
    }
    return x < y ? -1 : 1;
  }
  for (; i < common; ++i) {
    if (a[i] != b[i]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[i]) ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
}

}  // namespace

DescriptionFields scanDescription(const PlistDict& description) {
  // The wanted keys in the dictionary's own (byte-wise) order, so that one walk finds them all.
  static constexpr std::pair<std::string_view, const PlistValue* DescriptionFields::*> kWanted[] = {
      {"DADeviceInternal", &DescriptionFields::deviceInternal}, {"DADeviceProtocol", &DescriptionFields::deviceProtocol},
      {"DAMediaBSDName", &DescriptionFields::mediaBSDName},     {"DAMediaContent", &DescriptionFields::mediaContent},
      {"DAMediaSize", &DescriptionFields::mediaSize},           {"DAMediaType", &DescriptionFields::mediaType},
      {"DAMediaUUID", &DescriptionFields::mediaUUID},           {"DAVolumeKind", &DescriptionFields::volumeKind},
      {"DAVolumeName", &DescriptionFields::volumeName},         {"DAVolumePath", &DescriptionFields::volumePath},
      {"DAVolumeType", &DescriptionFields::volumeType},         {"DAVolumeUUID", &DescriptionFields::volumeUUID},
  };
  DescriptionFields fields;
  std::size_t next = 0;
  for (auto it = description.begin(); it != description.end() && next < std::size(kWanted); ++it) {
    std::string_view key = it->first;
    int order = -1;
    while (next < std::size(kWanted) && (order = compareKeys(kWanted[next].first, key)) < 0) ++next;
    if (order == 0) fields.*(kWanted[next++].second) = &it->second;
  }
  return fields;
}

std::string_view textOf(const PlistValue* value) {
  const std::string* text = value ? value->asString() : nullptr;
  return text ? std::string_view(*text) : std::string_view();
}

std::string_view descriptionTextView(const PlistDict& description, std::string_view key) {
  auto it = description.find(key);
  return textOf(it == description.end() ? nullptr : &it->second);
}

bool flagOf(const PlistValue* value) {
  if (!value) return false;
  if (auto flag = value->asBoolean()) return *flag;
  if (auto number = value->asNumber()) return *number != 0;
  return false;
}

std::uint64_t byteCountOf(const PlistValue* value) {
  if (!value) return 0;
  if (auto count = value->asUnsignedInteger()) return *count;
  if (auto count = value->asInteger()) return static_cast<std::uint64_t>(*count);
  if (auto count = value->asReal()) {
    // Only reals that land inside the signed range have an integer reading.
    constexpr double kLimit = 9223372036854775808.0;
    if (std::isfinite(*count) && *count > -kLimit && *count < kLimit) {
      return static_cast<std::uint64_t>(static_cast<std::int64_t>(*count));
    }
  }
  return 0;
}

std::optional<std::string_view> urlTextOf(const PlistValue* value) {
  if (!value) return std::nullopt;
  const PlistUrl* url = value->asUrl();
  const std::string* text = value->asString();
  // The service never describes a mount by an empty URL; one that says nothing is no mount.
  if (url && !url->text.empty()) return url->text;
  if (text && !text->empty()) return *text;
  return std::nullopt;
}

bool registryTruth(const std::optional<PlistValue>& property) {
  if (!property) return false;
  const PlistValue& value = *property;
  if (auto flag = value.asBoolean()) return *flag;
  if (auto number = value.asNumber()) return *number != 0;
  if (const std::string* text = value.asString()) {
    std::size_t i = text->find_first_not_of(" \t\n\r\f\v");
    if (i == std::string::npos) return false;
    if ((*text)[i] == '+' || (*text)[i] == '-') ++i;
    while (i < text->size() && (*text)[i] == '0') ++i;
    if (i == text->size()) return false;
    char c = (*text)[i];
    return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
  }
  if (const PlistData* data = value.asData()) return !data->bytes.empty();
  if (const PlistUrl* url = value.asUrl()) return !url->text.empty();
  if (const PlistArray* array = value.asArray()) return !array->empty();
  if (const PlistDict* dict = value.asDictionary()) return !dict->empty();
  return true;  // a date
}

std::string firstRole(const std::optional<PlistValue>& property) {
  if (!property) return {};
  if (const std::string* text = property->asString()) return *text;
  const PlistArray* roles = property->asArray();
  if (!roles || roles->empty()) return {};
  const std::string* first = roles->front().asString();
  return first ? *first : std::string();
}

std::string registryText(const std::optional<PlistValue>& property) {
  if (!property) return {};
  if (const std::string* text = property->asString()) return *text;
  if (const PlistUrl* url = property->asUrl()) return url->text;
  return {};
}

}  // namespace strandel
