#include "framework/DescriptionValues.hpp"

#include <bit>
#include <cmath>
#include <cstring>
#include <iterator>
#include <utility>

#include "plist/DictEntry.hpp"
#include "plist/LastingTexts.hpp"

namespace strandel::framework {

namespace {

// A key of 8 to 16 bytes as its first and last eight bytes, which overlap for shorter keys and
// so together hold every byte of it.
struct KeyWords {
  std::uint64_t first = 0, last = 0;
};

constexpr std::uint64_t wordAt(std::string_view text, std::size_t at) noexcept {
  std::uint64_t word = 0;
  for (std::size_t i = 0; i < 8; ++i)
    word |= std::uint64_t{static_cast<unsigned char>(text[at + i])} << (8 * i);
  return word;
}

std::uint64_t loadWord(const char* at) noexcept {
  std::uint64_t word;
  std::memcpy(&word, at, 8);
  if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
  return word;
}

struct WantedKey {
  std::string_view key;
  const PlistValue* DescriptionFields::*field;
};

constexpr WantedKey kWanted[] = {
    {"DADeviceInternal", &DescriptionFields::deviceInternal},
    {"DADeviceProtocol", &DescriptionFields::deviceProtocol},
    {"DAMediaBSDName", &DescriptionFields::mediaBSDName},
    {"DAMediaContent", &DescriptionFields::mediaContent},
    {"DAMediaSize", &DescriptionFields::mediaSize},
    {"DAMediaType", &DescriptionFields::mediaType},
    {"DAMediaUUID", &DescriptionFields::mediaUUID},
    {"DAVolumeKind", &DescriptionFields::volumeKind},
    {"DAVolumeName", &DescriptionFields::volumeName},
    {"DAVolumePath", &DescriptionFields::volumePath},
    {"DAVolumeType", &DescriptionFields::volumeType},
    {"DAVolumeUUID", &DescriptionFields::volumeUUID},
};
constexpr std::size_t kShortest = 8, kLongest = 16;

// The wanted keys in a table of 32 slots, placed by a hash of their length and last eight
// bytes that gives each its own slot: a description key is compared with the one wanted key of
// its slot, two words and a length, however long the prefix it shares with the wanted keys
// ("DAMedia", "DAVolume").
constexpr std::size_t kSlotBits = 5;

struct Slot {
  KeyWords words;
  std::uint8_t length = 0;  // 0: no wanted key here
  std::uint8_t index = 0;
};

constexpr std::size_t slotOf(std::uint64_t last, std::size_t length, std::uint64_t multiplier) {
  return static_cast<std::size_t>(((last + length) * multiplier) >> (64 - kSlotBits));
}

constexpr std::uint64_t findMultiplier() {
  for (std::uint64_t multiplier = 0x9E3779B97F4A7C15u;; multiplier += 2) {
    bool taken[std::size_t{1} << kSlotBits] = {};
    bool distinct = true;
    for (const WantedKey& wanted : kWanted) {
      std::size_t slot =
          slotOf(wordAt(wanted.key, wanted.key.size() - 8), wanted.key.size(), multiplier);
      distinct = distinct && !taken[slot];
      taken[slot] = true;
    }
    if (distinct) return multiplier;
  }
}

constexpr std::uint64_t kMultiplier = findMultiplier();

struct WantedTable {
  Slot slots[std::size_t{1} << kSlotBits];
};

constexpr WantedTable makeWantedTable() {
  WantedTable table;
  for (std::size_t i = 0; i < std::size(kWanted); ++i) {
    std::string_view key = kWanted[i].key;
    Slot& slot = table.slots[slotOf(wordAt(key, key.size() - 8), key.size(), kMultiplier)];
    slot = {{wordAt(key, 0), wordAt(key, key.size() - 8)},
            static_cast<std::uint8_t>(key.size()),
            static_cast<std::uint8_t>(i)};
  }
  return table;
}

constexpr WantedTable kWantedTable = makeWantedTable();

constexpr bool everyKeyFits() {
  for (const WantedKey& wanted : kWanted)
    if (wanted.key.size() < kShortest || wanted.key.size() > kLongest) return false;
  return true;
}
static_assert(everyKeyFits(), "every wanted key is 8 to 16 bytes long");

}  // namespace

DescriptionFields scanDescription(const PlistDict& description) {
  DescriptionFields fields;
  std::size_t found = 0;
  for (auto it = description.begin(); it != description.end() && found < std::size(kWanted); ++it) {
    std::string_view key = it->first;
    if (key.size() < kShortest || key.size() > kLongest) continue;
    std::uint64_t last = loadWord(key.data() + key.size() - 8);
    const Slot& slot = kWantedTable.slots[slotOf(last, key.size(), kMultiplier)];
    if (slot.length != key.size() || slot.words.last != last ||
        slot.words.first != loadWord(key.data()))
      continue;
    fields.*(kWanted[slot.index].field) = &it->second;
    ++found;
  }
  return fields;
}

std::string_view textOf(const PlistValue* value) {
  const std::string* text = value ? value->asString() : nullptr;
  return text ? std::string_view(*text) : std::string_view();
}

PlistValue textValueOf(const PlistValue* value) {
  return value && value->asString() ? *value : PlistValue();
}

PlistValue textValueOf(const PlistValue* from, std::string_view text) {
  const std::string* own = from ? from->asString() : nullptr;
  if (own && own->data() == text.data() && own->size() == text.size()) return *from;
  return PlistValue(text);
}

PlistDict shapeOf(std::span<const std::string_view> sortedKeys) {
  PlistDict shape;
  shape.reserve(sortedKeys.size());
  for (std::string_view key : sortedKeys)
    shape.emplace_hint(shape.end(), detail::LastingTexts::key(key), PlistValue());
  return shape;
}

std::string_view descriptionTextView(const PlistDict& description, std::string_view key) {
  return textOf(plist::valueAt(description, key));
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

PlistValue urlValueOf(const PlistValue* from, std::optional<std::string_view> text) {
  const PlistUrl* url = from ? from->asUrl() : nullptr;
  if (url && text && url->text.data() == text->data() && url->text.size() == text->size())
    return *from;
  return PlistUrl{std::string(text.value_or(""))};
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

PlistValue firstRole(const std::optional<PlistValue>& property) {
  if (!property) return {};
  if (property->asString()) return *property;
  const PlistArray* roles = property->asArray();
  if (!roles || roles->empty()) return {};
  return textValueOf(&roles->front());
}

std::string registryText(const std::optional<PlistValue>& property) {
  if (!property) return {};
  if (const std::string* text = property->asString()) return *text;
  if (const PlistUrl* url = property->asUrl()) return url->text;
  return {};
}

}  // namespace strandel::framework
