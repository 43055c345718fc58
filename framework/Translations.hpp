// Translations remembered for the length of one operation: a volume list asks for the same few
// words (units, locations, protocols, format names) once per volume, and the host's tables
// can't change in a way the list should show halfway through.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <utility>

#include "platform/Machine.hpp"

namespace strandel::framework {

class TranslationMemo {
 public:
  explicit TranslationMemo(platform::Localizer& localizer) : localizer_(localizer) {}

  /// The translation of `key` in the host's table `table` ("" for the default table), or the
  /// key itself; asked of the localizer once per table and key.
  const std::string& translate(std::string_view key, std::string_view table) {
    auto found = memo_.find(std::pair(table, key));
    if (found != memo_.end()) return found->second;
    std::string translation = localizer_.localized(key, table);
    return memo_.emplace(std::pair(std::string(table), std::string(key)), std::move(translation))
        .first->second;
  }

 private:
  struct Less {
    using is_transparent = void;
    template <typename A, typename B>
    bool operator()(const A& a, const B& b) const {
      return std::pair<std::string_view, std::string_view>(a.first, a.second) <
             std::pair<std::string_view, std::string_view>(b.first, b.second);
    }
  };
  platform::Localizer& localizer_;
  std::map<std::pair<std::string, std::string>, std::string, Less> memo_;
};

}  // namespace strandel::framework
