// The skimming container lookup against the full parse: on the same listing and argument, a
// skim that decides gives exactly the parser's answer. The input's first line is a device
// name, the rest the disk utility's listing; a few fixed names are looked up as well.
#include <array>
#include <cstdint>
#include <string_view>

#include "apfs/ApfsListing.hpp"
#include "fuzz/FuzzCheck.hpp"
#include "text/PathComponents.hpp"

namespace {

using strandel::fuzz::check;

constexpr std::array<std::string_view, 4> kDevices = {"disk1", "/dev/disk0s2", "/dev/rdisk3", ""};

void compare(std::string_view listing, std::string_view device) {
  for (bool fromPhysicalStores : {false, true}) {
    const strandel::apfs::ContainerQuery query{device, strandel::text::lastPathComponent(device),
                                               fromPhysicalStores};
    auto skimmed = strandel::apfs::findContainerSkimmed(listing, query);
    if (!skimmed) continue;
    check(*skimmed == strandel::apfs::findContainerParsed(listing, query),
          "the skim and the parse agree");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input = strandel::fuzz::textOf(data, size);
  const std::size_t newline = input.find('\n');
  const std::string_view device =
      newline == std::string_view::npos ? std::string_view() : input.substr(0, newline);
  const std::string_view listing =
      newline == std::string_view::npos ? input : input.substr(newline + 1);
  compare(listing, device);
  for (std::string_view fixed : kDevices) compare(listing, fixed);
  return 0;
}
