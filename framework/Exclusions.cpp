#include "framework/Exclusions.hpp"

#include <algorithm>
#include <array>
#include <atomic>

#include "text/PathComponents.hpp"

namespace strandel::framework {
namespace {

constexpr std::array<std::string_view, 15> kExcludedVolumes = {
    "boot osx", "boot os x",    "efi",  "preboot",  "recovery",   "recovery hd", "vm", "update",
    "edrive",   "flash player", "xart", "hardware", "iscpreboot", "simulator",   ""};

std::atomic<bool>& inForce() noexcept {
  // The list itself is constant; only whether it is in force changes, once, from false to true.
  static std::atomic<bool> flag{false};
  return flag;
}

}  // namespace

void putExclusionListInForce() noexcept { inForce().store(true, std::memory_order_release); }

bool exclusionListInForce() noexcept { return inForce().load(std::memory_order_acquire); }

bool isExcludedVolumeName(std::string_view name) {
  std::string_view component = text::lastPathComponent(name);
  // Lower-casing ASCII letters only is enough: every entry is ASCII, and no other character
  // lower-cases to an ASCII text that could complete an entry (the Kelvin sign gives "k",
  // which no entry holds; the dotted capital I gives "i" plus a combining dot).
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  return std::any_of(kExcludedVolumes.begin(), kExcludedVolumes.end(), [&](std::string_view entry) {
    return entry.size() == component.size() &&
           std::equal(entry.begin(), entry.end(), component.begin(),
                      [&](char a, char b) { return a == lower(b); });
  });
}

}  // namespace strandel::framework
