// Quoting for the system shell, in one place for every command line the library builds.
#pragma once

#include <string>
#include <string_view>

namespace strandel::text {

/// `text` as one word of a shell command line: in single quotes, each quote inside written as
/// '\'' so that the shell reads back exactly `text`.
std::string shellQuoted(std::string_view text);

}  // namespace strandel::text
