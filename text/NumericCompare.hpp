// Text ordering with digit runs compared by value ("disk2s2" before "disk2s10"), the order of
// the volume list and of any other list of names or versions that people read.
#pragma once

#include <string_view>

namespace strandel::text {

/// Orders `a` before (-1), equal to (0) or after (1) `b`, left to right: where both texts have
/// a run of ASCII digits, the runs compare by numeric value (of any length, leading zeros
/// ignored); every other byte compares by its value, which for UTF-8 text is code-point order,
/// upper and lower case apart. When one text is used up first while all before was equal, it
/// orders first ("disk1" before "disk1s1", "10.13" before "10.13.1").
int numericCompare(std::string_view a, std::string_view b) noexcept;

}  // namespace strandel::text
