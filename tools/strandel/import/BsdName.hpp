// BSD names as the importer orders and relates them: disk0, disk0s2, disk1s5s1.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace strandel::importer {

/// The numbers of a BSD name: disk1s5s1 gives {1, 5, 1}. Nothing for a name that is not
/// "disk" followed by a number and any number of "s" and a number.
std::optional<std::vector<unsigned long>> bsdNumbers(std::string_view name);

/// The name one level up: disk1s5s1 gives disk1s5, disk1s5 gives disk1; nothing for a whole
/// disk or a name that is not a BSD name.
std::optional<std::string> bsdParent(std::string_view name);

/// The whole disk of a name: disk1s5s1 gives disk1; a name that is not a BSD name gives itself.
std::string bsdWhole(std::string_view name);

/// Orders BSD names by their numbers (disk2 before disk10, disk1 before disk1s1); names that
/// are not BSD names come after them, in byte order.
struct BsdLess {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const;
};

}  // namespace strandel::importer
