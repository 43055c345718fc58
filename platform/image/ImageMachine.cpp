#include "platform/image/ImageMachine.hpp"

namespace strandel::platform::image {
// Not built yet: the image backend is its own change.
LoadResult loadMachine(std::string_view) { return {nullptr, "machine images are not supported yet"}; }
}  // namespace strandel::platform::image
