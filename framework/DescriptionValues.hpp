// Reading the values of a disk description and of registry properties with the defaults of
// the volume catalogue: a value that is absent, or of a kind the reader can't use, reads as
// "", false, 0 or no URL, so no record ever holds a null.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include <strandel/PlistValue.hpp>

namespace strandel::framework {

/// The values a volume record or a group member reads from a description, found in one pass
/// over it; each is null when the key is absent. Pointers into the description.
struct DescriptionFields {
  const PlistValue* deviceInternal = nullptr;  // DADeviceInternal
  const PlistValue* deviceProtocol = nullptr;  // DADeviceProtocol
  const PlistValue* mediaBSDName = nullptr;    // DAMediaBSDName
  const PlistValue* mediaContent = nullptr;    // DAMediaContent
  const PlistValue* mediaSize = nullptr;       // DAMediaSize
  const PlistValue* mediaType = nullptr;       // DAMediaType
  const PlistValue* mediaUUID = nullptr;       // DAMediaUUID
  const PlistValue* volumeKind = nullptr;      // DAVolumeKind
  const PlistValue* volumeName = nullptr;      // DAVolumeName
  const PlistValue* volumePath = nullptr;      // DAVolumePath
  const PlistValue* volumeType = nullptr;      // DAVolumeType
  const PlistValue* volumeUUID = nullptr;      // DAVolumeUUID
};

/// Finds the fields of a description. A description holds some thirty keys; one merged pass
/// over them costs less than a dozen separate searches.
DescriptionFields scanDescription(const PlistDict& description);

/// A text value as a view into it; "" when absent or not a text.
std::string_view textOf(const PlistValue* value);

/// A text value itself, sharing its text (a copy costs no allocation); "" when absent or not a
/// text, as textOf reads it.
PlistValue textValueOf(const PlistValue* value);

/// `text` as a value: `from` itself, shared, when `text` is a view of it (as textOf gave it).
PlistValue textValueOf(const PlistValue* from, std::string_view text);

/// A dictionary of `sortedKeys` with placeholder values, for shapes made once per process: its
/// keys are never freed, so a record copied from it shares them without counting, where keys
/// made afresh would each take an allocation. The record's values are then put in key order.
PlistDict shapeOf(std::span<const std::string_view> sortedKeys);

/// A flag: a boolean, or a number by its truth; false when absent or of another kind.
bool flagOf(const PlistValue* value);

/// A byte count as the unsigned 64-bit number the record holds: integers keep their bit
/// pattern (a signed count is read as signed and then taken as unsigned), reals are truncated
/// toward zero when they fit; 0 otherwise.
std::uint64_t byteCountOf(const PlistValue* value);

/// A mount URL as a value: `from` itself, shared, when it is the URL that `text` (as urlTextOf
/// gave it) is a view of; else a URL of `text`, the empty URL when there is none.
PlistValue urlValueOf(const PlistValue* from, std::optional<std::string_view> text);

/// The text of a mount URL: a URL value, or a text taken as the URL's text; nothing when
/// absent, empty or of another kind. A view into the value.
std::optional<std::string_view> urlTextOf(const PlistValue* value);

/// The text under `key` of a description, as a view into it; "" when absent or not a text.
std::string_view descriptionTextView(const PlistDict& description, std::string_view key);

/// A registry property read as a truth value, as the platform's boolean conversion reads it:
/// absent is false, a boolean is itself, a number is true when not zero, a text is true when
/// (after blanks, a sign and leading zeros) it starts with "Y", "y", "T", "t" or a digit 1 to 9.
/// Any other kind (data, a date, a URL, an array or dictionary) is true when present and not
/// empty: a registry marks a disk image by giving it such an identifier.
bool registryTruth(const std::optional<PlistValue>& property);

/// The first entry of a "Role" property, as a text value that shares the property's text; ""
/// when absent, empty, or not a text. A bare text is taken as a one-entry list.
PlistValue firstRole(const std::optional<PlistValue>& property);

/// The text of a registry property that holds a text or a URL; "" otherwise.
std::string registryText(const std::optional<PlistValue>& property);

}  // namespace strandel::framework
