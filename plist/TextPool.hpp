// The texts of one document being read, each held once: a key or string that the document
// repeats (every dictionary of a machine.plist names the same keys, every medium the same bus
// and paths) is shared by all its places instead of copied into each.
#pragma once

#include <strandel/PlistValue.hpp>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

namespace strandel::plist {

class TextPool {
 public:
  /// `text`, shared with every earlier text equal to it. A long text, or one whose place is
  /// crowded (texts made to collide), is made on its own: the search stays bounded.
  PlistKey intern(std::string_view text) {
    if (text.empty()) return PlistKey();
    std::size_t at = kCrowded;
    if (text.size() <= kLongest) {
      if (2 * (count_ + 1) > slots_.size()) grow();
      at = slotOf(text);
      if (at != kCrowded && !slots_[at].empty()) return slots_[at];
    }
    held_ += kBox + (text.size() > kInline ? text.size() + 1 + 16 : 0);
    if (at == kCrowded) return PlistKey(text);
    ++count_;
    return slots_[at] = PlistKey(text);
  }

  /// Bytes held by the pool and the texts made through it.
  std::uint64_t held() const noexcept { return held_ + slots_.size() * sizeof(PlistKey); }

 private:
  static constexpr std::size_t kBox = 48;     // a text's counted body with its std::string
  static constexpr std::size_t kInline = 15;  // longer texts take a block of their own
  static constexpr std::size_t kLongest = 256, kProbes = 32;
  static constexpr std::size_t kCrowded = ~std::size_t{0};

  // Linear probing in a table at most half full; an empty slot holds the empty key, which is
  // never stored.
  std::size_t slotOf(std::string_view text) const {
    const std::size_t mask = slots_.size() - 1;
    std::size_t at = std::hash<std::string_view>()(text) & mask;
    for (std::size_t probe = 0; probe < kProbes; ++probe, at = (at + 1) & mask)
      if (slots_[at].empty() || std::string_view(slots_[at]) == text) return at;
    return kCrowded;
  }

  void grow() {
    std::vector<PlistKey> old(slots_.empty() ? 64 : 2 * slots_.size());
    old.swap(slots_);
    // A text that finds its new place crowded is dropped from the pool; its places keep it.
    for (PlistKey& key : old)
      if (const std::size_t at = key.empty() ? kCrowded : slotOf(key); at != kCrowded)
        slots_[at] = std::move(key);
  }

  std::vector<PlistKey> slots_;
  std::size_t count_ = 0;
  std::uint64_t held_ = 0;
};

}  // namespace strandel::plist
