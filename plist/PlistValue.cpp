#include <strandel/PlistValue.hpp>

#include <algorithm>
#include <atomic>
#include <type_traits>

namespace strandel {
namespace detail {

namespace {
bool isEmpty(const std::string& text) { return text.empty(); }
bool isEmpty(const PlistData& data) { return data.bytes.empty(); }
bool isEmpty(const PlistUrl& url) { return url.text.empty(); }
bool isEmpty(const PlistArray& array) { return array.empty(); }
bool isEmpty(const PlistDict& dict) { return dict.empty(); }
}  // namespace

// Empty contents take no box: an empty string or dictionary costs nothing to make.
template <class T>
SharedBody<T>::SharedBody(T contents)
    : box_(isEmpty(contents) ? nullptr : new Box(std::move(contents))) {}

template <class T>
const T& SharedBody<T>::emptyContents() noexcept {
  static const T empty{};
  return empty;
}

template <class T>
SharedBody<T>::SharedBody(const SharedBody& other) : box_(other.box_) {
  if (!box_) return;
  if (box_->unshareable) {
    box_ = new Box(box_->contents);
  } else if (box_->holders.load(std::memory_order_relaxed) != kLastingHolders) {
    box_->holders.fetch_add(1, std::memory_order_relaxed);
  }
}

template <class T>
SharedBody<T>& SharedBody<T>::operator=(const SharedBody& other) {
  if (this != &other) {
    SharedBody copy(other);
    *this = std::move(copy);
  }
  return *this;
}

template <class T>
SharedBody<T>& SharedBody<T>::operator=(SharedBody&& other) noexcept {
  if (this != &other) {
    release();
    box_ = other.box_;
    other.box_ = nullptr;
  }
  return *this;
}

template <class T>
SharedBody<T>::~SharedBody() {
  release();
}

template <class T>
void SharedBody<T>::release() noexcept {
  if (!box_) return;
  // The last holder frees the contents only after every other holder's reads of them. One
  // acquire-release step rather than a release and a fence: the same order, and one that
  // ThreadSanitizer can follow (it does not model fences, and took the free for a race).
  // A counted box never reaches kLastingHolders, so the first test leaves it to the second.
  if (box_->holders.load(std::memory_order_relaxed) != kLastingHolders &&
      box_->holders.fetch_sub(1, std::memory_order_acq_rel) == 1)
    delete box_;
  box_ = nullptr;
}

template <class T>
T& SharedBody<T>::change() {
  if (!box_) {
    box_ = new Box(T());
  } else if (box_->holders.load(std::memory_order_acquire) != 1) {
    Box* own = new Box(box_->contents);
    release();
    box_ = own;
  }
  box_->unshareable = true;
  return box_->contents;
}

template <class T>
bool SharedBody<T>::equals(const SharedBody& other) const noexcept {
  return box_ == other.box_ || get() == other.get();
}

template class SharedBody<std::string>;
template class SharedBody<PlistData>;
template class SharedBody<PlistUrl>;
template class SharedBody<PlistArray>;
template class SharedBody<PlistDict>;

}  // namespace detail

PlistDict PlistDict::fromEntries(std::vector<value_type> entries) {
  auto byKey = [](const value_type& a, const value_type& b) { return a.first < b.first; };
  auto firstUnsorted = std::adjacent_find(
      entries.begin(), entries.end(),
      [](const value_type& a, const value_type& b) { return !(a.first < b.first); });
  if (firstUnsorted != entries.end()) {
    // Stable, so that of equal keys the one given last is last in its run, and stays.
    std::stable_sort(entries.begin(), entries.end(), byKey);
    auto out = entries.begin();
    for (auto run = entries.begin(); run != entries.end();) {
      auto last = run;
      while (last + 1 != entries.end() && last[1].first == run->first) ++last;
      if (out != last) *out = std::move(*last);
      ++out;
      run = last + 1;
    }
    entries.erase(out, entries.end());
  }
  PlistDict dict;
  dict.entries_ = std::move(entries);
  return dict;
}

PlistKey::PlistKey(std::string text) : text_(std::move(text)) {}
PlistKey::PlistKey(std::string_view text) : text_(std::string(text)) {}
PlistKey::PlistKey(const char* text) : text_(std::string(text)) {}

PlistValue::PlistValue() = default;
PlistValue::PlistValue(std::string value)
    : value_(detail::SharedBody<std::string>(std::move(value))) {}
PlistValue::PlistValue(std::string_view value)
    : value_(detail::SharedBody<std::string>(std::string(value))) {}
PlistValue::PlistValue(const char* value)
    : value_(detail::SharedBody<std::string>(std::string(value))) {}
PlistValue::PlistValue(PlistKey value) noexcept : value_(std::move(value.text_)) {}
PlistValue::PlistValue(std::int64_t value) : value_(value) {}
PlistValue::PlistValue(int value) : value_(std::int64_t{value}) {}
PlistValue::PlistValue(std::uint64_t value) : value_(value) {}
PlistValue::PlistValue(double value) : value_(value) {}
PlistValue::PlistValue(bool value) : value_(value) {}
PlistValue::PlistValue(PlistData value) : value_(detail::SharedBody<PlistData>(std::move(value))) {}
PlistValue::PlistValue(PlistDate value) : value_(value) {}
PlistValue::PlistValue(PlistUrl value) : value_(detail::SharedBody<PlistUrl>(std::move(value))) {}
PlistValue::PlistValue(PlistArray value)
    : value_(detail::SharedBody<PlistArray>(std::move(value))) {}
PlistValue::PlistValue(PlistDict value) : value_(detail::SharedBody<PlistDict>(std::move(value))) {}

PlistValue::Kind PlistValue::kind() const noexcept { return static_cast<Kind>(value_.index()); }

namespace {
template <class T, class Variant>
const T* contentsOf(const Variant& value) noexcept {
  auto* body = std::get_if<detail::SharedBody<T>>(&value);
  return body ? &body->get() : nullptr;
}
}  // namespace

const std::string* PlistValue::asString() const noexcept { return contentsOf<std::string>(value_); }

std::optional<std::int64_t> PlistValue::asInteger() const noexcept {
  if (auto* v = std::get_if<std::int64_t>(&value_)) return *v;
  return std::nullopt;
}

std::optional<std::uint64_t> PlistValue::asUnsignedInteger() const noexcept {
  if (auto* v = std::get_if<std::uint64_t>(&value_)) return *v;
  return std::nullopt;
}

std::optional<double> PlistValue::asReal() const noexcept {
  if (auto* v = std::get_if<double>(&value_)) return *v;
  return std::nullopt;
}

std::optional<bool> PlistValue::asBoolean() const noexcept {
  if (auto* v = std::get_if<bool>(&value_)) return *v;
  return std::nullopt;
}

const PlistData* PlistValue::asData() const noexcept { return contentsOf<PlistData>(value_); }
const PlistDate* PlistValue::asDate() const noexcept { return std::get_if<PlistDate>(&value_); }
const PlistUrl* PlistValue::asUrl() const noexcept { return contentsOf<PlistUrl>(value_); }
const PlistArray* PlistValue::asArray() const noexcept { return contentsOf<PlistArray>(value_); }

PlistArray* PlistValue::asArray() noexcept {
  auto* body = std::get_if<detail::SharedBody<PlistArray>>(&value_);
  return body ? &body->change() : nullptr;
}

const PlistDict* PlistValue::asDictionary() const noexcept { return contentsOf<PlistDict>(value_); }

PlistDict* PlistValue::asDictionary() noexcept {
  auto* body = std::get_if<detail::SharedBody<PlistDict>>(&value_);
  return body ? &body->change() : nullptr;
}

std::optional<double> PlistValue::asNumber() const noexcept {
  if (auto* v = std::get_if<std::int64_t>(&value_)) return static_cast<double>(*v);
  if (auto* v = std::get_if<std::uint64_t>(&value_)) return static_cast<double>(*v);
  if (auto* v = std::get_if<double>(&value_)) return *v;
  return std::nullopt;
}

const PlistValue* PlistValue::find(std::string_view key) const noexcept {
  const PlistDict* dict = asDictionary();
  if (!dict) return nullptr;
  auto it = dict->find(key);
  return it == dict->end() ? nullptr : &it->second;
}

bool operator==(const PlistValue& a, const PlistValue& b) noexcept {
  auto ai = a.asInteger(), bi = b.asInteger();
  auto au = a.asUnsignedInteger(), bu = b.asUnsignedInteger();
  // Signedness is a detail of how a number was written, not part of its value.
  if (ai && bu) return *ai >= 0 && static_cast<std::uint64_t>(*ai) == *bu;
  if (au && bi) return *bi >= 0 && static_cast<std::uint64_t>(*bi) == *au;
  return a.value_ == b.value_;
}

}  // namespace strandel
