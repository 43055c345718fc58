// The registry of an image is the registry of its checked tree.
#include "machineimage/NodeRegistry.hpp"
#include "platform/image/ImageServices.hpp"

namespace strandel::platform::image {

std::unique_ptr<Registry> makeImageRegistry(std::shared_ptr<const machineimage::MachinePlist> plist) {
  return machineimage::makeNodeRegistry(std::move(plist));
}

}  // namespace strandel::platform::image
