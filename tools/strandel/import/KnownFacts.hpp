// What the support engineer knows of the Mac and gives on the command line: its version,
// build and product name, which fill or override what the recording says.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/strandel/import/Dump.hpp"

namespace strandel::importer {

struct KnownFacts {
  std::optional<std::string> osVersion{};    // "10.15.7"
  std::optional<std::string> build{};        // "19H2026"
  std::optional<std::string> productName{};  // "macOS", "Mac OS X"
};

/// Why `facts` can't be used (a version that is not one, a value with a line end), or nothing.
std::optional<std::string> knownFactsRefusal(const KnownFacts& facts);

/// Puts `facts` into the dump's sw_vers recordings: each fact given replaces the recorded line,
/// or is added where nothing was recorded; the version answers sw_vers -productVersion too.
/// Gives the facts given, as "ProductVersion 10.15.7", each with a line in `problems` saying
/// what it replaced.
std::vector<std::string> applyKnownFacts(const KnownFacts& facts, Dump& dump, Problems& problems);

/// `swVers` (sw_vers' output, or "") with the line of `label` ("ProductVersion") saying
/// `value`: the line is replaced, or added in sw_vers' own order (ProductName, ProductVersion,
/// ProductVersionExtra, BuildVersion). The labels are followed by the tabs the other lines use,
/// else by one tab (two from macOS 13 on, as sw_vers prints them).
std::string withSwVersLine(std::string_view swVers, std::string_view label, std::string_view value);

}  // namespace strandel::importer
