#include "tools/strandel/import/BsdName.hpp"

#include <charconv>

namespace strandel::importer {

std::optional<std::vector<unsigned long>> bsdNumbers(std::string_view name) {
  if (!name.starts_with("disk")) return std::nullopt;
  std::vector<unsigned long> numbers;
  std::string_view rest = name.substr(4);
  while (true) {
    unsigned long number = 0;
    auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), number);
    if (error != std::errc() || end == rest.data()) return std::nullopt;
    numbers.push_back(number);
    rest.remove_prefix(static_cast<std::size_t>(end - rest.data()));
    if (rest.empty()) return numbers;
    if (rest.front() != 's') return std::nullopt;
    rest.remove_prefix(1);
  }
}

std::optional<std::string> bsdParent(std::string_view name) {
  auto numbers = bsdNumbers(name);
  if (!numbers || numbers->size() < 2) return std::nullopt;
  return std::string(name.substr(0, name.rfind('s')));
}

std::string bsdWhole(std::string_view name) {
  if (!bsdNumbers(name)) return std::string(name);
  std::size_t cut = name.find('s', 4);
  return std::string(name.substr(0, cut));
}

bool BsdLess::operator()(std::string_view a, std::string_view b) const {
  auto numbersA = bsdNumbers(a);
  auto numbersB = bsdNumbers(b);
  if (numbersA && numbersB) {
    if (*numbersA != *numbersB) return *numbersA < *numbersB;
    // "disk01" and "disk1" name the same numbers; bytes keep the order strict.
    return a < b;
  }
  if (numbersA || numbersB) return numbersA.has_value();
  return a < b;
}

}  // namespace strandel::importer
