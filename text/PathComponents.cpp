#include "text/PathComponents.hpp"

namespace strandel::text {

std::string_view lastPathComponent(std::string_view text) noexcept {
  std::size_t end = text.find_last_not_of('/');
  if (end == std::string_view::npos)
    return text.empty() ? std::string_view() : std::string_view("/");
  text = text.substr(0, end + 1);
  std::size_t slash = text.rfind('/');
  return slash == std::string_view::npos ? text : text.substr(slash + 1);
}

std::optional<std::string_view> pathTail(std::string_view path) noexcept {
  std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return std::nullopt;
  return path.substr(slash);
}

}  // namespace strandel::text
