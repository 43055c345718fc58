#include "text/UrlPath.hpp"

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

}  // namespace

std::string urlPath(std::string_view url) {
  std::string_view rest = url.substr(schemeLength(url));
  if (rest.starts_with("//")) {
    std::size_t pathStart = rest.find_first_of("/?#", 2);
    rest = pathStart == std::string_view::npos ? std::string_view() : rest.substr(pathStart);
  }
  rest = rest.substr(0, rest.find_first_of("?#"));

  std::string path;
  path.reserve(rest.size());
  for (std::size_t i = 0; i < rest.size(); ++i) {
    if (rest[i] != '%') {
      path += rest[i];
      continue;
    }
    auto high = i + 2 < rest.size() ? hexValue(rest[i + 1]) : std::nullopt;
    auto low = i + 2 < rest.size() ? hexValue(rest[i + 2]) : std::nullopt;
    // A URL with a broken escape is not a URL the platform would have made; it has no path.
    if (!high || !low) return {};
    path += static_cast<char>(*high * 16 + *low);
    i += 2;
  }
  if (!base::isValidUtf8(path)) return {};
  if (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace strandel::text
