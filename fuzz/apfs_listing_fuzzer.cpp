// The disk utility's APFS listing (`diskutil apfs list -plist`) as the APFS lookups read it:
// the input is the tool's output, and every lookup runs on it under an OS that trusts the
// designated physical store (10.15) and one that does not (10.12).
#include <array>
#include <cstdint>
#include <memory>

#include <strandel/Strandel.hpp>

#include "apfs/ApfsListing.hpp"
#include "fuzz/FuzzCheck.hpp"
#include "fuzz/FuzzMachine.hpp"

namespace {

using strandel::fuzz::check;

// Names as callers give them: BSD names, device paths, raw device paths, and the odd ones.
constexpr std::array<std::string_view, 5> kDevices = {"disk1", "/dev/rdisk0s2", "disk1s1", "",
                                                      "/dev/"};

std::shared_ptr<strandel::fuzz::FuzzMachine> machineRunning(const char* version) {
  auto machine = std::make_shared<strandel::fuzz::FuzzMachine>(version);
  machine->tool().tool = "/usr/sbin/diskutil";
  return machine;
}

void lookUpEverything() {
  strandel::apfs::readAPFSListing();
  for (std::string_view device : kDevices) {
    auto container = strandel::getAPFSContainer(device);
    // A container entry is only ever found in a listing that parses as a dictionary.
    if (container)
      check(strandel::apfs::readAPFSListing().has_value(), "a container comes from a listing");
    strandel::getAPFSSystemVolume(device);
    strandel::getAPFSDataVolume(device);
    strandel::getAPFSPrebootVolume(device);
    strandel::getAPFSRecoveryVolume(device);
    std::int32_t role = strandel::getAPFSVolumeRole(device);
    check(role >= strandel::APFSVolumeRoleSystem && role <= strandel::APFSVolumeRoleNone,
          "a role code is one of seven");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const auto current = machineRunning("10.15.7");
  static const auto old = machineRunning("10.12.6");
  for (const auto& machine : {current, old}) {
    machine->tool().output.assign(reinterpret_cast<const char*>(data), size);
    strandel::platform::setCurrent(machine->machine);
    lookUpEverything();
  }
  return 0;
}
