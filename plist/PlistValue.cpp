#include <strandel/PlistValue.hpp>

#include <type_traits>

namespace strandel {

PlistValue::PlistValue() : value_(std::string()) {}
PlistValue::PlistValue(std::string value) : value_(std::move(value)) {}
PlistValue::PlistValue(std::string_view value) : value_(std::string(value)) {}
PlistValue::PlistValue(const char* value) : value_(std::string(value)) {}
PlistValue::PlistValue(std::int64_t value) : value_(value) {}
PlistValue::PlistValue(int value) : value_(std::int64_t{value}) {}
PlistValue::PlistValue(std::uint64_t value) : value_(value) {}
PlistValue::PlistValue(double value) : value_(value) {}
PlistValue::PlistValue(bool value) : value_(value) {}
PlistValue::PlistValue(PlistData value) : value_(std::move(value)) {}
PlistValue::PlistValue(PlistDate value) : value_(value) {}
PlistValue::PlistValue(PlistUrl value) : value_(std::move(value)) {}
PlistValue::PlistValue(PlistArray value) : value_(std::move(value)) {}
PlistValue::PlistValue(PlistDict value) : value_(std::move(value)) {}

PlistValue::Kind PlistValue::kind() const noexcept { return static_cast<Kind>(value_.index()); }

const std::string* PlistValue::asString() const noexcept { return std::get_if<std::string>(&value_); }

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

const PlistData* PlistValue::asData() const noexcept { return std::get_if<PlistData>(&value_); }
const PlistDate* PlistValue::asDate() const noexcept { return std::get_if<PlistDate>(&value_); }
const PlistUrl* PlistValue::asUrl() const noexcept { return std::get_if<PlistUrl>(&value_); }
const PlistArray* PlistValue::asArray() const noexcept { return std::get_if<PlistArray>(&value_); }
PlistArray* PlistValue::asArray() noexcept { return std::get_if<PlistArray>(&value_); }
const PlistDict* PlistValue::asDictionary() const noexcept { return std::get_if<PlistDict>(&value_); }
PlistDict* PlistValue::asDictionary() noexcept { return std::get_if<PlistDict>(&value_); }

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
