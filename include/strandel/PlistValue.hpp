// Property-list values: the one data type that every structured answer of Strandel is made of.
#pragma once

#include <strandel/Export.hpp>
#ifndef STRANDEL_LANGUAGE_TOO_OLD

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

namespace strandel {

/// Raw bytes (the property-list `data` kind).
struct PlistData {
  std::vector<std::uint8_t> bytes;
  friend bool operator==(const PlistData& a, const PlistData& b) { return a.bytes == b.bytes; }
#if __cplusplus < 202002L
  friend bool operator!=(const PlistData& a, const PlistData& b) { return !(a == b); }
#endif
};

/// A point in time as seconds since 2001-01-01 00:00:00 UTC (the property-list epoch).
struct PlistDate {
  double secondsSince2001 = 0;
  friend bool operator==(const PlistDate& a, const PlistDate& b) { return a.secondsSince2001 == b.secondsSince2001; }
#if __cplusplus < 202002L
  friend bool operator!=(const PlistDate& a, const PlistDate& b) { return !(a == b); }
#endif
};

/// A URL, kept as its text. The empty URL has the text "" and yields no path.
/// Property-list files have no URL kind: a URL is written there as a string.
struct PlistUrl {
  std::string text;
  friend bool operator==(const PlistUrl& a, const PlistUrl& b) { return a.text == b.text; }
#if __cplusplus < 202002L
  friend bool operator!=(const PlistUrl& a, const PlistUrl& b) { return !(a == b); }
#endif
};

class STRANDEL_EXPORT PlistValue;
/// An array of values (the property-list `array` kind).
using PlistArray = std::vector<PlistValue>;
/// A dictionary with string keys, kept in key order (the property-list `dict` kind).
using PlistDict = std::map<std::string, PlistValue, std::less<>>;

namespace detail {

/// The contents of an array or a dictionary, held by every copy of the value that holds them
/// and counted (atomically), so that copying a value copies one pointer. A holder about to
/// change the contents first takes a copy of its own when it is not the only holder; once it
/// has handed out a pointer through which they may be changed, copies of it copy the contents
/// instead of sharing them, since that pointer may still be written through.
template <class T>
class STRANDEL_EXPORT SharedBody {
 public:
  SharedBody() noexcept = default;
  explicit SharedBody(T contents);
  SharedBody(const SharedBody& other);
  SharedBody(SharedBody&& other) noexcept : box_(other.box_) { other.box_ = nullptr; }
  SharedBody& operator=(const SharedBody& other);
  SharedBody& operator=(SharedBody&& other) noexcept;
  ~SharedBody();

  const T& get() const noexcept;
  /// The contents, this holder's own, to change.
  T& change();
  bool equals(const SharedBody& other) const noexcept;
  friend bool operator==(const SharedBody& a, const SharedBody& b) noexcept { return a.equals(b); }

 private:
  struct STRANDEL_HIDDEN Box;
  void release() noexcept;
  Box* box_ = nullptr;  // null holds empty contents
};

}  // namespace detail

/// A property-list value: string, signed or unsigned 64-bit integer, real, boolean, data,
/// date, URL, array or dictionary with string keys. A value owns everything below it, and a copy
/// behaves as a deep copy: changing one never changes the other. Copies of an array or a
/// dictionary share its contents until one of them is changed, so they cost a pointer and not
/// a walk. Getters of the wrong kind give nothing, never a converted value.
///
/// Threads: copies of one value may be used and changed in different threads at once. One
/// value may be read by several threads at once (the const getters), but not read in one while
/// another changes it (assignment, or the non-const array and dictionary getters).
class STRANDEL_EXPORT PlistValue {
 public:
  /// The kind of value held: Integer and UnsignedInteger are the signed and unsigned 64-bit
  /// kinds, and a Boolean is never an integer.
  enum class Kind { String, Integer, UnsignedInteger, Real, Boolean, Data, Date, Url, Array, Dictionary };

  /// The empty string.
  PlistValue();
  /// A value of the kind that matches the argument: a string (from text, or from a C string,
  /// which must not be null), a signed or unsigned integer, a real, a boolean, data, a date, a
  /// URL, an array or a dictionary. Never fails.
  PlistValue(std::string value);
  PlistValue(std::string_view value);
  PlistValue(const char* value);
  PlistValue(std::int64_t value);
  PlistValue(int value);
  PlistValue(std::uint64_t value);
  /// Every other integer type keeps its value and its signedness: 5u and 5ull are unsigned
  /// integers, 5LL and std::int8_t{5} signed ones.
  template <class T, std::enable_if_t<std::is_integral_v<T> && std::is_signed_v<T>, int> = 0>
  PlistValue(T value) : PlistValue(static_cast<std::int64_t>(value)) {}
  template <class T, std::enable_if_t<std::is_integral_v<T> && std::is_unsigned_v<T>, int> = 0>
  PlistValue(T value) : PlistValue(static_cast<std::uint64_t>(value)) {}
  /// A character is not a number: PlistValue('x') would silently be the integer 120. A string
  /// is made from text ("x"); signed and unsigned char (std::int8_t, std::uint8_t) are integers.
  PlistValue(char) = delete;
  PlistValue(wchar_t) = delete;
#if defined(__cpp_char8_t)
  PlistValue(char8_t) = delete;
#endif
  PlistValue(char16_t) = delete;
  PlistValue(char32_t) = delete;
  PlistValue(double value);
  PlistValue(bool value);
  PlistValue(PlistData value);
  PlistValue(PlistDate value);
  PlistValue(PlistUrl value);
  PlistValue(PlistArray value);
  PlistValue(PlistDict value);

  /// Which of the ten kinds the value holds.
  Kind kind() const noexcept;

  /// Each gives the value when it is of that kind, else nothing (nullptr or an empty optional).
  /// The pointers point into this value and stay valid while it is neither changed nor gone.
  /// The non-const array and dictionary getters let the caller change it in place, and count
  /// as a change themselves: an array or dictionary shared with copies is first copied (its
  /// top level; what lies below stays shared until changed in its turn), so pointers taken
  /// from this value before then point into the copies' contents, not into it. Prefer the
  /// const getters to read: on a value shared with copies the non-const ones cost that copy.
  const std::string* asString() const noexcept;
  std::optional<std::int64_t> asInteger() const noexcept;
  std::optional<std::uint64_t> asUnsignedInteger() const noexcept;
  std::optional<double> asReal() const noexcept;
  std::optional<bool> asBoolean() const noexcept;
  const PlistData* asData() const noexcept;
  const PlistDate* asDate() const noexcept;
  const PlistUrl* asUrl() const noexcept;
  const PlistArray* asArray() const noexcept;
  PlistArray* asArray() noexcept;
  const PlistDict* asDictionary() const noexcept;
  PlistDict* asDictionary() noexcept;

  /// Any of the three number kinds as a double, else nothing.
  std::optional<double> asNumber() const noexcept;
  /// The entry `key` of a dictionary; nothing for a missing key or a value of another kind.
  const PlistValue* find(std::string_view key) const noexcept;

  /// Deep equality. Integers compare by value whatever their signedness (5 and 5u are equal);
  /// a boolean never equals an integer.
  friend STRANDEL_EXPORT bool operator==(const PlistValue& a, const PlistValue& b) noexcept;
#if __cplusplus < 202002L
  /// What C++20 derives from `==`.
  friend bool operator!=(const PlistValue& a, const PlistValue& b) noexcept { return !(a == b); }
#endif

 private:
  std::variant<std::string, std::int64_t, std::uint64_t, double, bool, PlistData, PlistDate,
               PlistUrl, detail::SharedBody<PlistArray>, detail::SharedBody<PlistDict>>
      value_;
};

/// Parses an XML or binary property list. Bytes that are not one give nothing.
STRANDEL_EXPORT std::optional<PlistValue> readPlist(std::string_view bytes);

/// Serialises a value as an XML property list: valid XML 1.0 in UTF-8. URLs are written as
/// strings; a character XML can't hold (U+0001, a byte that is not UTF-8) as U+FFFD, a date as
/// its whole seconds within the years 1 to 9999. The binary form keeps such characters and dates.
STRANDEL_EXPORT std::string writeXmlPlist(const PlistValue& value);

/// Serialises a value as a binary property list. Text that is not valid UTF-8 is written with
/// U+FFFD for each bad byte, since the binary form keeps text as ASCII or UTF-16.
STRANDEL_EXPORT std::string writeBinaryPlist(const PlistValue& value);

/// Serialises a value as one line of JSON: dictionaries become objects, data base64 text,
/// dates ISO 8601 text (UTC), URLs their text. Text that is not valid UTF-8 is written with
/// U+FFFD for each bad byte; reals that are not finite become null.
STRANDEL_EXPORT std::string writeJson(const PlistValue& value);

}  // namespace strandel

#endif  // STRANDEL_LANGUAGE_TOO_OLD
