#include "plist/LastingTexts.hpp"

#include <mutex>
#include <string>
#include <vector>

namespace strandel::detail {

PlistKey LastingTexts::key(std::string_view text) {
  PlistKey key(text);
  // The empty text takes no box and needs none.
  auto* box = key.text_.box_;
  if (!box) return key;
  box->holders.store(kLastingHolders);
  // Held from here to the end of the run (never destroyed), so that leak checkers find every
  // lasting box held rather than lost once the shapes that share it are gone.
  static std::mutex guard;
  static auto& kept = *new std::vector<const void*>();
  std::lock_guard lock(guard);
  kept.push_back(box);
  return key;
}

}  // namespace strandel::detail
