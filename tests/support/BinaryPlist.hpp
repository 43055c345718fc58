// Binary property lists assembled object by object, for shapes no writer makes: shared and
// deeply nested containers, odd integer widths, UTF-16 texts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace strandel::testing {

/// The bytes of a reference to object `index` (any big-endian integer of `refWidth` bytes).
inline std::string ref(std::uint64_t index, unsigned refWidth = 1) {
  std::string out;
  for (unsigned i = refWidth; i-- > 0;) out += static_cast<char>(index >> (8 * i) & 0xFF);
  return out;
}

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
  for (std::uint64_t offset : offsets) out += ref(offset, width);
  out.append(6, '\0');
  return out + ref(width) + ref(refWidth) + ref(objects.size(), 8) + ref(0, 8) + ref(table, 8);
}

/// Arrays (or dictionaries) each naming the next one twice: a full walk visits 2^levels values.
inline std::string sharedChain(unsigned levels, bool dictionaries = false) {
  std::vector<std::string> objects;
  if (dictionaries) {
    // Object 0 is the key both entries share; a key seen twice takes the later value.
    objects.push_back("\x51k");
    for (unsigned i = 1; i <= levels; ++i)
      objects.push_back(std::string("\xD2").append(ref(0)).append(ref(0)).append(ref(i + 1)).append(ref(i + 1)));
    objects.push_back("\x10\x01");
    std::string out = binaryPlist(objects);
    out[out.size() - 9] = 1;  // the root is the first dictionary
    return out;
  }
  for (unsigned i = 0; i < levels; ++i) objects.push_back(std::string("\xA2").append(ref(i + 1)).append(ref(i + 1)));
  objects.push_back("\x10\x01");
  return binaryPlist(objects);
}

/// `levels` nested arrays each claiming `claimed` entries: their first entry is the next array,
/// and the rest overlap the padding that follows them all (references of 3 bytes).
inline std::string reserveBomb(unsigned levels, std::uint32_t claimed) {
  std::string body;
  for (unsigned i = 0; i < levels; ++i) {
    body += "\xAF\x12" + ref(claimed, 4) + ref(i + 1, 3);
  }
  body += "\x10\x01";
  body.append(std::size_t{claimed} * 3, '\0');
  std::vector<std::string> objects{body};
  // Every object lies in the one body, 9 bytes apart; the offsets are patched in below.
  for (unsigned i = 0; i < levels; ++i) objects.push_back("");
  std::string out = binaryPlist(objects, 3);
  const std::size_t trailer = out.size() - 32;
  const unsigned width = static_cast<unsigned char>(out[trailer + 6]);
  const std::size_t table = trailer - (levels + 1) * width;
  for (unsigned i = 0; i <= levels; ++i) out.replace(table + i * width, width, ref(8 + 9 * i, width));
  return out;
}

/// `levels` arrays each holding the next one.
inline std::string nestedBinaryArrays(unsigned levels) {
  std::vector<std::string> objects;
  for (unsigned i = 0; i < levels; ++i) objects.push_back(std::string("\xA1").append(ref(i + 1, 3)));
  objects.push_back("\xA0");
  return binaryPlist(objects, 3);
}

}  // namespace strandel::testing
