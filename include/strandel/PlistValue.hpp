// Property-list values: the one data type that every structured answer of Strandel is made of.
#pragma once

#include <strandel/Export.hpp>
#ifndef STRANDEL_LANGUAGE_TOO_OLD

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

namespace strandel {

/// Raw bytes (the property-list `data` kind).
struct STRANDEL_EXPORT PlistData {
  std::vector<std::uint8_t> bytes;
  friend bool operator==(const PlistData& a, const PlistData& b) { return a.bytes == b.bytes; }
#if __cplusplus < 202002L
  friend bool operator!=(const PlistData& a, const PlistData& b) { return !(a == b); }
#endif
};

/// A point in time as seconds since 2001-01-01 00:00:00 UTC (the property-list epoch).
struct STRANDEL_EXPORT PlistDate {
  double secondsSince2001 = 0;
  friend bool operator==(const PlistDate& a, const PlistDate& b) {
    return a.secondsSince2001 == b.secondsSince2001;
  }
#if __cplusplus < 202002L
  friend bool operator!=(const PlistDate& a, const PlistDate& b) { return !(a == b); }
#endif
};

/// A URL, kept as its text. The empty URL has the text "" and yields no path.
/// Property-list files have no URL kind: a URL is written there as a string.
struct STRANDEL_EXPORT PlistUrl {
  std::string text;
  friend bool operator==(const PlistUrl& a, const PlistUrl& b) { return a.text == b.text; }
#if __cplusplus < 202002L
  friend bool operator!=(const PlistUrl& a, const PlistUrl& b) { return !(a == b); }
#endif
};

class STRANDEL_EXPORT PlistValue;
/// An array of values (the property-list `array` kind).
using PlistArray = std::vector<PlistValue>;

class STRANDEL_EXPORT PlistDict;

namespace detail {

class LastingTexts;

// A body whose box counts this many holders lasts as long as the program: copies and releases
// leave its count alone (the library's own fixed keys and texts).
constexpr std::uint32_t kLastingHolders = 0xFFFFFFFFu;

/// What a value holds beyond eight bytes (text, data, a URL, the contents of an array or a
/// dictionary), held by every copy of the value that holds it and counted (atomically), so
/// that copying a value copies one pointer. Text, data and URLs never change once made. A
/// holder about to change an array's or a dictionary's contents first takes a copy of its own
/// when it is not the only holder; once it has handed out a pointer through which they may be
/// changed, copies of it copy the contents instead of sharing them, since that pointer may
/// still be written through.
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

  // Inline in every program that reads a value, so not one of the library's exports.
  STRANDEL_HIDDEN const T& get() const noexcept { return box_ ? box_->contents : emptyContents(); }
  /// The contents, this holder's own, to change.
  T& change();
  bool equals(const SharedBody& other) const noexcept;
  friend bool operator==(const SharedBody& a, const SharedBody& b) noexcept { return a.equals(b); }

 private:
  friend class LastingTexts;
  struct STRANDEL_HIDDEN Box {
    explicit Box(T from) : contents(std::move(from)) {}
    std::atomic<std::uint32_t> holders{1};
    // Set once the only holder has handed out a pointer to change the contents through; from
    // then on it is never shared again. Only that holder reads or writes it.
    bool unshareable = false;
    T contents;
  };
  static const T& emptyContents() noexcept;
  void release() noexcept;
  Box* box_ = nullptr;  // null holds empty contents
};

}  // namespace detail

/// The key of a dictionary entry: text, shared by every entry and copy that holds the same key
/// (a list read from a file holds each distinct key once, however many dictionaries name it),
/// so that an entry costs a pointer for its key. It reads as a `const std::string&` and a
/// `std::string_view`, and compares with text of any of the string types.
class STRANDEL_EXPORT PlistKey {
 public:
  PlistKey() noexcept = default;
  PlistKey(std::string text);
  PlistKey(std::string_view text);
  /// `text` must not be null.
  PlistKey(const char* text);

  const std::string& str() const noexcept { return text_.get(); }
  operator const std::string&() const noexcept { return text_.get(); }
  operator std::string_view() const noexcept { return text_.get(); }
  std::size_t size() const noexcept { return str().size(); }
  bool empty() const noexcept { return str().empty(); }
  const char* data() const noexcept { return str().data(); }
  const char* c_str() const noexcept { return str().c_str(); }

  friend bool operator==(const PlistKey& a, const PlistKey& b) noexcept {
    return a.text_ == b.text_;
  }
  friend bool operator==(const PlistKey& a, std::string_view b) noexcept {
    return std::string_view(a) == b;
  }
  friend bool operator==(const PlistKey& a, const std::string& b) noexcept { return a.str() == b; }
  friend bool operator==(const PlistKey& a, const char* b) noexcept {
    return std::string_view(a) == b;
  }
  friend bool operator<(const PlistKey& a, const PlistKey& b) noexcept { return a.str() < b.str(); }
  friend bool operator<(const PlistKey& a, std::string_view b) noexcept {
    return std::string_view(a) < b;
  }
  friend bool operator<(std::string_view a, const PlistKey& b) noexcept {
    return a < std::string_view(b);
  }
#if __cplusplus < 202002L
  // What C++20 derives from `==`.
  friend bool operator==(std::string_view a, const PlistKey& b) noexcept { return b == a; }
  friend bool operator==(const std::string& a, const PlistKey& b) noexcept { return b == a; }
  friend bool operator==(const char* a, const PlistKey& b) noexcept { return b == a; }
  friend bool operator!=(const PlistKey& a, const PlistKey& b) noexcept { return !(a == b); }
  friend bool operator!=(const PlistKey& a, std::string_view b) noexcept { return !(a == b); }
  friend bool operator!=(const PlistKey& a, const std::string& b) noexcept { return !(a == b); }
  friend bool operator!=(const PlistKey& a, const char* b) noexcept { return !(a == b); }
  friend bool operator!=(std::string_view a, const PlistKey& b) noexcept { return !(b == a); }
  friend bool operator!=(const std::string& a, const PlistKey& b) noexcept { return !(b == a); }
  friend bool operator!=(const char* a, const PlistKey& b) noexcept { return !(b == a); }
#endif

 private:
  friend class PlistValue;
  friend class detail::LastingTexts;
  detail::SharedBody<std::string> text_;
};

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
  enum class Kind {
    String,
    Integer,
    UnsignedInteger,
    Real,
    Boolean,
    Data,
    Date,
    Url,
    Array,
    Dictionary
  };

  /// The empty string.
  PlistValue();
  /// A value of the kind that matches the argument: a string (from text, or from a C string,
  /// which must not be null), a signed or unsigned integer, a real, a boolean, data, a date, a
  /// URL, an array or a dictionary. Never fails.
  PlistValue(std::string value);
  PlistValue(std::string_view value);
  PlistValue(const char* value);
  /// A string: the key's text, shared with it.
  PlistValue(PlistKey value) noexcept;
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
  // Sixteen bytes: what does not fit in eight is held in a body that copies share.
  std::variant<detail::SharedBody<std::string>, std::int64_t, std::uint64_t, double, bool,
               detail::SharedBody<PlistData>, PlistDate, detail::SharedBody<PlistUrl>,
               detail::SharedBody<PlistArray>, detail::SharedBody<PlistDict>>
      value_;
};

/// A dictionary with string keys, kept in key order (the property-list `dict` kind). It answers
/// as a std::map of its keys does, but keeps its entries in one sorted vector: a list read from
/// a file costs one block per dictionary instead of one per entry, and a walk reads memory in
/// order. As with any vector, adding or removing an entry moves the others: iterators,
/// pointers and references into it are then stale (a std::map kept them). A key is unique; of
/// entries given at once with equal keys the first stays, as in a map.
class STRANDEL_EXPORT PlistDict {
  // Default visibility lets the library export its SharedBody<PlistDict>; the members written
  // in this header are compiled into every program that uses them, so the library keeps its
  // copies of them to itself.
 public:
  using key_type = PlistKey;
  using mapped_type = PlistValue;
  using value_type = std::pair<PlistKey, PlistValue>;
  using size_type = std::size_t;
  using difference_type = std::ptrdiff_t;
  using key_compare = std::less<>;
  using reference = value_type&;
  using const_reference = const value_type&;
  using iterator = std::vector<value_type>::iterator;
  using const_iterator = std::vector<value_type>::const_iterator;
  using reverse_iterator = std::vector<value_type>::reverse_iterator;
  using const_reverse_iterator = std::vector<value_type>::const_reverse_iterator;

  PlistDict() noexcept = default;
  STRANDEL_HIDDEN PlistDict(std::initializer_list<value_type> entries);
  template <class It>
  STRANDEL_HIDDEN PlistDict(It first, It last);

  /// A dictionary of `entries` given in any order; of equal keys the last one stays, as a
  /// reader of a file that names a key twice keeps its later value. Sorting costs nothing
  /// when they come in order already.
  static PlistDict fromEntries(std::vector<value_type> entries);

  STRANDEL_HIDDEN iterator begin() noexcept { return entries_.begin(); }
  STRANDEL_HIDDEN iterator end() noexcept { return entries_.end(); }
  STRANDEL_HIDDEN const_iterator begin() const noexcept { return entries_.begin(); }
  STRANDEL_HIDDEN const_iterator end() const noexcept { return entries_.end(); }
  STRANDEL_HIDDEN const_iterator cbegin() const noexcept { return entries_.cbegin(); }
  STRANDEL_HIDDEN const_iterator cend() const noexcept { return entries_.cend(); }
  STRANDEL_HIDDEN reverse_iterator rbegin() noexcept { return entries_.rbegin(); }
  STRANDEL_HIDDEN reverse_iterator rend() noexcept { return entries_.rend(); }
  STRANDEL_HIDDEN const_reverse_iterator rbegin() const noexcept { return entries_.rbegin(); }
  STRANDEL_HIDDEN const_reverse_iterator rend() const noexcept { return entries_.rend(); }

  STRANDEL_HIDDEN bool empty() const noexcept { return entries_.empty(); }
  STRANDEL_HIDDEN size_type size() const noexcept { return entries_.size(); }
  STRANDEL_HIDDEN void clear() noexcept { entries_.clear(); }
  /// Room for `n` entries, so that adding up to that many allocates nothing.
  STRANDEL_HIDDEN void reserve(size_type n) { entries_.reserve(n); }

  STRANDEL_HIDDEN iterator lower_bound(std::string_view key) noexcept;
  STRANDEL_HIDDEN const_iterator lower_bound(std::string_view key) const noexcept;
  STRANDEL_HIDDEN iterator upper_bound(std::string_view key) noexcept;
  STRANDEL_HIDDEN const_iterator upper_bound(std::string_view key) const noexcept;
  STRANDEL_HIDDEN iterator find(std::string_view key) noexcept;
  STRANDEL_HIDDEN const_iterator find(std::string_view key) const noexcept;
  STRANDEL_HIDDEN size_type count(std::string_view key) const noexcept {
    return find(key) == end() ? 0 : 1;
  }
  STRANDEL_HIDDEN bool contains(std::string_view key) const noexcept { return find(key) != end(); }
  /// The value of `key`; throws std::out_of_range when there is none, as a map does.
  STRANDEL_HIDDEN PlistValue& at(std::string_view key);
  STRANDEL_HIDDEN const PlistValue& at(std::string_view key) const;

  /// The value of `key`, an empty string added first when there is none.
  template <class K, std::enable_if_t<std::is_convertible_v<const K&, std::string_view>, int> = 0>
  STRANDEL_HIDDEN PlistValue& operator[](K&& key);

  template <class K, class... Args,
            std::enable_if_t<std::is_convertible_v<const K&, std::string_view>, int> = 0>
  STRANDEL_HIDDEN std::pair<iterator, bool> try_emplace(K&& key, Args&&... args);
  template <class K, class... Args,
            std::enable_if_t<std::is_convertible_v<const K&, std::string_view>, int> = 0>
  STRANDEL_HIDDEN iterator try_emplace(const_iterator hint, K&& key, Args&&... args);
  template <class K, class M,
            std::enable_if_t<std::is_convertible_v<const K&, std::string_view>, int> = 0>
  STRANDEL_HIDDEN std::pair<iterator, bool> insert_or_assign(K&& key, M&& value);
  template <class K, class M,
            std::enable_if_t<std::is_convertible_v<const K&, std::string_view>, int> = 0>
  STRANDEL_HIDDEN iterator insert_or_assign(const_iterator hint, K&& key, M&& value);
  template <class... Args>
  STRANDEL_HIDDEN std::pair<iterator, bool> emplace(Args&&... args);
  /// Adding in key order at the end (the hint end()) costs no search.
  template <class... Args>
  STRANDEL_HIDDEN iterator emplace_hint(const_iterator hint, Args&&... args);
  STRANDEL_HIDDEN std::pair<iterator, bool> insert(const value_type& entry) {
    return place(value_type(entry));
  }
  STRANDEL_HIDDEN std::pair<iterator, bool> insert(value_type&& entry) {
    return place(std::move(entry));
  }
  STRANDEL_HIDDEN iterator insert(const_iterator hint, const value_type& entry) {
    return placeNear(hint, value_type(entry));
  }
  STRANDEL_HIDDEN iterator insert(const_iterator hint, value_type&& entry) {
    return placeNear(hint, std::move(entry));
  }
  template <class It>
  STRANDEL_HIDDEN void insert(It first, It last);
  STRANDEL_HIDDEN void insert(std::initializer_list<value_type> entries) {
    insert(entries.begin(), entries.end());
  }

  STRANDEL_HIDDEN iterator erase(const_iterator at) { return entries_.erase(at); }
  STRANDEL_HIDDEN iterator erase(const_iterator first, const_iterator last) {
    return entries_.erase(first, last);
  }
  STRANDEL_HIDDEN size_type erase(std::string_view key);
  STRANDEL_HIDDEN void swap(PlistDict& other) noexcept { entries_.swap(other.entries_); }

  friend bool operator==(const PlistDict& a, const PlistDict& b) {
    return a.entries_ == b.entries_;
  }
#if __cplusplus < 202002L
  friend bool operator!=(const PlistDict& a, const PlistDict& b) { return !(a == b); }
#endif

 private:
  // Where `key` belongs, and whether it is there already.
  STRANDEL_HIDDEN std::pair<iterator, bool> slotOf(std::string_view key) noexcept;
  STRANDEL_HIDDEN std::pair<iterator, bool> slotNear(const_iterator hint,
                                                     std::string_view key) noexcept;
  STRANDEL_HIDDEN std::pair<iterator, bool> place(value_type&& entry);
  STRANDEL_HIDDEN iterator placeNear(const_iterator hint, value_type&& entry);

  std::vector<value_type> entries_;
};

inline PlistDict::PlistDict(std::initializer_list<value_type> entries) { insert(entries); }

template <class It>
PlistDict::PlistDict(It first, It last) {
  insert(first, last);
}

inline auto PlistDict::lower_bound(std::string_view key) noexcept -> iterator {
  // Written out rather than std::lower_bound, which would need <algorithm> in every includer.
  iterator first = entries_.begin();
  difference_type n = static_cast<difference_type>(entries_.size());
  while (n > 0) {
    const difference_type half = n / 2;
    iterator middle = first + half;
    if (std::string_view(middle->first) < key) {
      first = middle + 1;
      n -= half + 1;
    } else {
      n = half;
    }
  }
  return first;
}

inline auto PlistDict::lower_bound(std::string_view key) const noexcept -> const_iterator {
  return const_cast<PlistDict*>(this)->lower_bound(key);
}

inline auto PlistDict::upper_bound(std::string_view key) noexcept -> iterator {
  iterator at = lower_bound(key);
  return at != end() && at->first == key ? at + 1 : at;
}

inline auto PlistDict::upper_bound(std::string_view key) const noexcept -> const_iterator {
  return const_cast<PlistDict*>(this)->upper_bound(key);
}

inline auto PlistDict::find(std::string_view key) noexcept -> iterator {
  iterator at = lower_bound(key);
  return at != end() && at->first == key ? at : end();
}

inline auto PlistDict::find(std::string_view key) const noexcept -> const_iterator {
  return const_cast<PlistDict*>(this)->find(key);
}

inline PlistValue& PlistDict::at(std::string_view key) {
  iterator found = find(key);
  if (found == end()) throw std::out_of_range("PlistDict::at: no such key");
  return found->second;
}

inline const PlistValue& PlistDict::at(std::string_view key) const {
  return const_cast<PlistDict*>(this)->at(key);
}

inline auto PlistDict::slotOf(std::string_view key) noexcept -> std::pair<iterator, bool> {
  // Entries mostly come in key order: after the last one, no search.
  if (entries_.empty() || std::string_view(entries_.back().first) < key)
    return {entries_.end(), false};
  iterator at = lower_bound(key);
  return {at, at != entries_.end() && at->first == key};
}

inline auto PlistDict::slotNear(const_iterator hint, std::string_view key) noexcept
    -> std::pair<iterator, bool> {
  // A right hint lies just after the last smaller key.
  const bool afterSmaller = hint == cbegin() || std::string_view((hint - 1)->first) < key;
  const bool beforeLarger = hint == cend() || key < std::string_view(hint->first);
  if (afterSmaller && beforeLarger) return {entries_.begin() + (hint - cbegin()), false};
  return slotOf(key);
}

inline auto PlistDict::place(value_type&& entry) -> std::pair<iterator, bool> {
  auto [at, found] = slotOf(entry.first);
  if (found) return {at, false};
  return {entries_.insert(at, std::move(entry)), true};
}

inline auto PlistDict::placeNear(const_iterator hint, value_type&& entry) -> iterator {
  auto [at, found] = slotNear(hint, entry.first);
  return found ? at : entries_.insert(at, std::move(entry));
}

template <class K, std::enable_if_t<std::is_convertible_v<const K&, std::string_view>, int>>
PlistValue& PlistDict::operator[](K&& key) {
  return try_emplace(std::forward<K>(key)).first->second;
}

template <class K, class... Args,
          std::enable_if_t<std::is_convertible_v<const K&, std::string_view>, int>>
auto PlistDict::try_emplace(K&& key, Args&&... args) -> std::pair<iterator, bool> {
  auto [at, found] = slotOf(std::string_view(key));
  if (found) return {at, false};
  at = entries_.emplace(at, std::piecewise_construct, std::forward_as_tuple(std::forward<K>(key)),
                        std::forward_as_tuple(std::forward<Args>(args)...));
  return {at, true};
}

template <class K, class... Args,
          std::enable_if_t<std::is_convertible_v<const K&, std::string_view>, int>>
auto PlistDict::try_emplace(const_iterator hint, K&& key, Args&&... args) -> iterator {
  auto [at, found] = slotNear(hint, std::string_view(key));
  if (found) return at;
  return entries_.emplace(at, std::piecewise_construct, std::forward_as_tuple(std::forward<K>(key)),
                          std::forward_as_tuple(std::forward<Args>(args)...));
}

template <class K, class M,
          std::enable_if_t<std::is_convertible_v<const K&, std::string_view>, int>>
auto PlistDict::insert_or_assign(K&& key, M&& value) -> std::pair<iterator, bool> {
  auto [at, found] = slotOf(std::string_view(key));
  if (found) {
    at->second = std::forward<M>(value);
    return {at, false};
  }
  return {entries_.emplace(at, std::forward<K>(key), std::forward<M>(value)), true};
}

template <class K, class M,
          std::enable_if_t<std::is_convertible_v<const K&, std::string_view>, int>>
auto PlistDict::insert_or_assign(const_iterator hint, K&& key, M&& value) -> iterator {
  auto [at, found] = slotNear(hint, std::string_view(key));
  if (found) {
    at->second = std::forward<M>(value);
    return at;
  }
  return entries_.emplace(at, std::forward<K>(key), std::forward<M>(value));
}

template <class... Args>
auto PlistDict::emplace(Args&&... args) -> std::pair<iterator, bool> {
  return place(value_type(std::forward<Args>(args)...));
}

template <class... Args>
auto PlistDict::emplace_hint(const_iterator hint, Args&&... args) -> iterator {
  return placeNear(hint, value_type(std::forward<Args>(args)...));
}

template <class It>
void PlistDict::insert(It first, It last) {
  for (; first != last; ++first) placeNear(cend(), value_type(*first));
}

inline auto PlistDict::erase(std::string_view key) -> size_type {
  iterator found = find(key);
  if (found == end()) return 0;
  entries_.erase(found);
  return 1;
}

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
