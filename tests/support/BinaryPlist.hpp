// Binary property lists assembled object by object, for shapes no writer makes: shared and
// deeply nested containers, odd integer widths, UTF-16 texts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace strandel::testing {

/// A binary list of `objects` (each its marker and bytes), the first being the root, with
/// references of `refWidth` bytes.
inline std::string binaryPlist(const std::vector<std::string>& objects, unsigned refWidth = 1) {
  std::string out = "bplist00";
  std::vector<std::uint64_t> offsets;
  for (const auto& object : objects) {
    offsets.push_back(out.size());
    out += object;
  }
  const std::uint64_t table = out.size();
  const unsigned width = table < (1u << 8) ? 1 : table < (1u << 16) ? 2 : table < (1u << 24) ? 3 : 4;
  auto put = [&](std::uint64_t value, unsigned bytes) {
    for (unsigned i = bytes; i-- > 0;) out += static_cast<char>(value >> (8 * i) & 0xFF);
  };
  for (std::uint64_t offset : offsets) put(offset, width);
  out.append(6, '\0');
  put(width, 1);
  put(refWidth, 1);
  put(objects.size(), 8);
  put(0, 8);
  put(table, 8);
  return out;
}

/// The bytes of a reference to object `index`.
inline std::string ref(std::uint64_t index, unsigned refWidth = 1) {
  std::string out;
  for (unsigned i = refWidth; i-- > 0;) out += static_cast<char>(index >> (8 * i) & 0xFF);
  return out;
}

/// Arrays each naming the next one twice: libplist expanded these to 2^levels copies.
inline std::string sharedChain(unsigned levels) {
  std::vector<std::string> objects;
  for (unsigned i = 0; i < levels; ++i) objects.push_back("\xA2" + ref(i + 1) + ref(i + 1));
  objects.push_back("\x10\x01");
  return binaryPlist(objects);
}

/// `levels` arrays each holding the next one.
inline std::string nestedBinaryArrays(unsigned levels) {
  std::vector<std::string> objects;
  for (unsigned i = 0; i < levels; ++i) objects.push_back("\xA1" + ref(i + 1, 3));
  objects.push_back("\xA0");
  return binaryPlist(objects, 3);
}

}  // namespace strandel::testing
