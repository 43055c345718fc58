#include "tools/strandel/import/PastedText.hpp"

namespace strandel::importer {
namespace {

bool onlyBlanks(std::string_view text) { return text.find_first_not_of(" \t\r\n") == std::string_view::npos; }

}  // namespace

std::optional<std::string_view> propertyListSpan(std::string_view text) {
  std::size_t start = text.find("<?xml");
  if (start == std::string_view::npos) start = text.find("<plist");
  if (start == std::string_view::npos) return std::nullopt;
  constexpr std::string_view kEnd = "</plist>";
  std::size_t end = text.find(kEnd, start);
  if (end == std::string_view::npos) return std::nullopt;
  end += kEnd.size();
  if (onlyBlanks(text.substr(0, start)) && onlyBlanks(text.substr(end))) return std::nullopt;
  return text.substr(start, end - start);
}

}  // namespace strandel::importer
