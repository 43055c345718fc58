// Our own reader of XML and binary property lists, and the limits that keep it linear.
//
// The reader builds values directly, with no tree of its own in between. Every input is
// outside input: it costs time and memory in proportion to its size, nests at most
// kMaxPlistNesting containers deep (walked with an explicit stack, never by recursion), and is
// refused with a message saying what is wrong and where.
//
// A text (string or key) holding U+0000 is refused in both forms, wherever it comes from: a raw
// NUL byte or a character reference in XML, a NUL byte in a binary ASCII string or U+0000 in a
// binary UTF-16 one. No property list we read holds one, the programs that consume our texts
// read them as C strings, and the writer would cut them: refusing is the one rule that means
// the same thing everywhere. Data keeps every byte, NUL included.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <strandel/PlistValue.hpp>

namespace strandel::plist {

/// What reading gives: the value, or nothing and a refusal naming the fault and its place
/// ("line 12: ..." for XML, "byte 0x3a: ..." for binary). `beyondLimits` tells a list refused for
/// holding more than we take (nesting, size, U+0000 in a text) from a damaged one: a caller
/// keeping someone else's file leaves the first alone.
struct PlistReadResult {
  std::optional<PlistValue> value;
  std::string refusal;
  bool beyondLimits = false;
};

/// Reads an XML or binary property list (a binary one starts with "bplist00").
PlistReadResult readPlistExplained(std::string_view bytes);

PlistReadResult readXmlPlist(std::string_view bytes);
PlistReadResult readBinaryPlist(std::string_view bytes);

/// Containers nested deeper than this are refused; real lists nest a handful of levels.
inline constexpr std::size_t kMaxPlistNesting = 512;

/// What reading a list may take. A binary list may name one string or number from many places,
/// so the text and data it holds can exceed its size; the budget keeps that, and the count of
/// values (a container's claimed entries, charged before room is made for them), in proportion
/// to the input.
class PlistBudget {
 public:
  explicit PlistBudget(std::size_t inputSize) noexcept
      : values_(inputSize + 16), bytes_(8 * static_cast<std::uint64_t>(inputSize) + (1u << 20)) {}
  bool takeValue() noexcept { return takeValues(1); }
  bool takeValues(std::uint64_t n) noexcept { return n <= values_ ? (values_ -= n, true) : false; }
  bool takeBytes(std::uint64_t n) noexcept { return n <= bytes_ ? (bytes_ -= n, true) : false; }

 private:
  std::uint64_t values_;
  std::uint64_t bytes_;
};

/// How much a full walk of a binary list's value may visit (each value once for every place it
/// is reached from, and each byte of its texts and data likewise). A list that names nothing
/// twice stays well inside it; shared containers may take it up to there.
inline std::uint64_t expandedBudget(std::size_t inputSize) noexcept {
  return 32 * static_cast<std::uint64_t>(inputSize) + (std::uint64_t{8} << 20);
}

}  // namespace strandel::plist
