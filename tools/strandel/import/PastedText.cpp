#include "tools/strandel/import/PastedText.hpp"

namespace strandel::importer {
namespace {

bool onlyBlanks(std::string_view text) {
  return text.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

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

std::optional<std::string> withLineFeeds(std::string_view text) {
  if (text.starts_with("bplist") || text.find('\r') == std::string_view::npos) return std::nullopt;
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r') {
      out += text[i];
    } else {
      out += '\n';
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    }
  }
  return out;
}

}  // namespace strandel::importer
