#include "tools/strandel/import/FileUrl.hpp"

namespace strandel::importer {
namespace {

bool standsPlain(unsigned char c) {
  if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
  // ";" is a path character too, but some URL readers take it for the start of parameters;
  // escaped, it decodes to the same path everywhere.
  return std::string_view("-._~!$&'()*+,=:@/").find(static_cast<char>(c)) != std::string_view::npos;
}

}  // namespace

std::optional<std::string> mountPointUrl(std::string_view mountPoint) {
  if (!mountPoint.starts_with('/')) return std::nullopt;
  constexpr char kHex[] = "0123456789ABCDEF";
  std::string url = "file://";
  for (unsigned char c : mountPoint) {
    if (standsPlain(c)) {
      url += static_cast<char>(c);
    } else {
      url += '%';
      url += kHex[c >> 4];
      url += kHex[c & 0xF];
    }
  }
  if (!url.ends_with('/')) url += '/';
  return url;
}

}  // namespace strandel::importer
