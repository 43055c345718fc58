// Property-list bytes, XML or binary: what reads, writes back and reads again as the same value.
#include <cmath>
#include <cstdint>

#include <strandel/PlistValue.hpp>

#include "fuzz/FuzzCheck.hpp"
#include "base/Utf8.hpp"

namespace {

using strandel::PlistValue;

enum class Form { Xml, Binary };

// Whether a text is written as it is: libplist makes strings and keys from C strings, so text
// past a NUL byte is lost; the binary form holds UTF-8 text only.
bool keepsText(const std::string& text, Form form) {
  return text.find('\0') == std::string::npos && (form == Form::Xml || strandel::base::isValidUtf8(text));
}

// Whether writing can keep the value exactly. Besides texts: dates are kept in whole
// microseconds of a 32-bit count of seconds; NaN equals nothing, itself included.
bool survivesWriting(const PlistValue& value, Form form) {
  switch (value.kind()) {
    case PlistValue::Kind::String:
      return keepsText(*value.asString(), form);
    case PlistValue::Kind::Real:
      return !std::isnan(*value.asReal());
    case PlistValue::Kind::Date:
      return false;
    case PlistValue::Kind::Array:
      for (const auto& item : *value.asArray())
        if (!survivesWriting(item, form)) return false;
      return true;
    case PlistValue::Kind::Dictionary:
      for (const auto& [key, item] : *value.asDictionary())
        if (!keepsText(key, form) || !survivesWriting(item, form)) return false;
      return true;
    default:
      return true;
  }
}

void checkWritingBack(const PlistValue& value, Form form, const char* what) {
  auto write = form == Form::Xml ? strandel::writeXmlPlist : strandel::writeBinaryPlist;
  auto again = strandel::readPlist(write(value));
  strandel::fuzz::check(again.has_value(), what);
  if (survivesWriting(value, form)) strandel::fuzz::check(*again == value, what);
  // Whatever was lost went in the first pass; a second one changes nothing more.
  auto third = strandel::readPlist(write(*again));
  strandel::fuzz::check(third.has_value() && (!survivesWriting(*again, form) || *third == *again), what);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto value = strandel::readPlist(strandel::fuzz::textOf(data, size));
  if (!value) return 0;
  checkWritingBack(*value, Form::Binary, "a value read back from its binary property list");
  checkWritingBack(*value, Form::Xml, "a value read back from its XML property list");
  std::string json = strandel::writeJson(*value);
  strandel::fuzz::check(!json.empty(), "every value has a JSON text");
  return 0;
}
