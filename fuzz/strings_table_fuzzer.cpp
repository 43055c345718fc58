// `.strings` translation tables, in text form (UTF-8 or UTF-16) and property-list form: a table
// that reads, written out again in either form, reads back as the same table.
#include <cstdint>
#include <cstdio>

#include <strandel/PlistValue.hpp>

#include "base/Utf8.hpp"
#include "fuzz/FuzzCheck.hpp"
#include "platform/app/StringsTable.hpp"

namespace {

using strandel::fuzz::check;
using strandel::platform::StringsTable;

void appendQuoted(std::string& out, std::string_view text) {
  out += '"';
  for (char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      // Control characters (NUL included) as octal escapes: a NUL right after the opening quote
      // would make the file look like UTF-16.
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\%03o",
                    static_cast<unsigned>(static_cast<unsigned char>(c)));
      out += escape;
    } else {
      out += c;
    }
  }
  out += '"';
}

std::string textForm(const StringsTable& table) {
  std::string out = "/* written back */\n";
  for (const auto& [key, value] : table) {
    appendQuoted(out, key);
    out += " = ";
    appendQuoted(out, value);
    out += ";\n";
  }
  return out;
}

bool allOf(const StringsTable& table, bool (*holds)(std::string_view)) {
  for (const auto& [key, value] : table)
    if (!holds(key) || !holds(value)) return false;
  return true;
}

bool hasNoNul(std::string_view text) { return text.find('\0') == std::string_view::npos; }
bool isUtf8(std::string_view text) { return strandel::base::isValidUtf8(text); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto table = strandel::platform::parseStringsTable(strandel::fuzz::textOf(data, size));
  if (!table) return 0;
  check(allOf(*table, isUtf8), "every key and text of a table is UTF-8");
  check(strandel::platform::parseStringsTable(textForm(*table)) == table,
        "a table reads back from its text form");
  // Property lists keep texts as C strings, so one with a NUL byte can't be written whole.
  if (allOf(*table, hasNoNul)) {
    strandel::PlistDict dict;
    for (const auto& [key, value] : *table) dict.emplace(key, value);
    auto again = strandel::platform::parseStringsTable(
        strandel::writeBinaryPlist(strandel::PlistValue(std::move(dict))));
    check(again == table, "a table reads back from its property-list form");
  }
  return 0;
}
