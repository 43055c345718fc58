#include <strandel/Strandel.hpp>

namespace strandel {
// Not built yet: the mount-table lookups are their own change.
std::string getVolumeMountFromName(std::optional<std::string_view>) { return ""; }
std::string getVolumeMountOnName(std::optional<std::string_view>) { return ""; }
}  // namespace strandel
