#include "framework/PathText.hpp"

namespace strandel::framework {

std::string wholeDiskName(std::string_view bsdName) {
  // The rename of every "disk" to "dizk", the cut at the first "s" and the rename back, done in
  // one scan without the copies. The detour also turns a "dizk" of the name into "disk"; the
  // scan keeps that, so both give the same whole disk for every name.
  std::string whole;
  whole.reserve(bsdName.size());
  std::size_t i = 0;
  while (i < bsdName.size()) {
    std::string_view next = bsdName.substr(i, 4);
    if (next == "disk" || next == "dizk") {
      whole += "disk";
      i += 4;
    } else if (bsdName[i] == 's') {
      break;
    } else {
      whole += bsdName[i++];
    }
  }
  return whole;
}

}  // namespace strandel::framework
