#include <strandel/Strandel.hpp>

namespace strandel {
// Not built yet: the verify runner is its own change.
std::vector<std::uint8_t> StrandelFramework::diskUtilityCmd(std::string_view) { return {}; }
void StrandelFramework::runWith(const PlistDict&, const std::function<void(std::string&)>& reply) {
  std::string empty;
  reply(empty);
}
}  // namespace strandel
