#include "text/UrlPath.hpp"

#include <algorithm>
#include <optional>

#include "base/Utf8.hpp"
#include "text/CharacterClass.hpp"

namespace strandel::text {
namespace {

bool isAsciiLetter(char c) noexcept { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool isAsciiDigit(char c) noexcept { return c >= '0' && c <= '9'; }

// The length of a URL scheme with its ":" at the start of `url`, or 0 when there is none.
std::size_t schemeLength(std::string_view url) noexcept {
  if (url.empty() || !isAsciiLetter(url[0])) return 0;
  for (std::size_t i = 1; i < url.size(); ++i) {
    char c = url[i];
    if (c == ':') return i + 1;
    if (!isAsciiLetter(c) && !isAsciiDigit(c) && c != '+' && c != '-' && c != '.') return 0;
  }
  return 0;
}

// Where the first of `stops` lies in `text` from `from` on, or npos. A plain loop: a mount URL is
// short, and find_first_of asks memchr about every byte.
std::size_t firstOf(std::string_view text, std::string_view stops, std::size_t from) noexcept {
  for (std::size_t i = from; i < text.size(); ++i)
    for (char stop : stops)
      if (text[i] == stop) return i;
  return std::string_view::npos;
}

}  // namespace

std::string urlPath(std::string_view url) {
  std::string_view rest = url.substr(schemeLength(url));
  if (rest.starts_with("//")) {
    std::size_t pathStart = firstOf(rest, "/?#", 2);
    rest = pathStart == std::string_view::npos ? std::string_view() : rest.substr(pathStart);
  }
  rest = rest.substr(0, firstOf(rest, "?#", 0));

  std::string path;
  path.reserve(rest.size());
  for (std::size_t i = 0; i < rest.size();) {
    std::size_t escape = std::min(rest.find('%', i), rest.size());
    path.append(rest, i, escape - i);
    if (escape == rest.size()) break;
    auto high = escape + 2 < rest.size() ? hexValue(rest[escape + 1]) : std::nullopt;
    auto low = escape + 2 < rest.size() ? hexValue(rest[escape + 2]) : std::nullopt;
    // A URL with a broken escape is not a URL the platform would have made; it has no path.
    if (!high || !low) return {};
    path += static_cast<char>(*high * 16 + *low);
    i = escape + 3;
  }
  if (!base::isValidUtf8(path)) return {};
  if (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace strandel::text
