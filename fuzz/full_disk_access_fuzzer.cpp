// The privacy database's `access` table as the database tool dumps it, and the boolean reading
// of its grant column.
#include <cstdint>
#include <string>

#include "fuzz/FuzzCheck.hpp"
#include "system/FullDiskAccess.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using strandel::fuzz::check;
  std::string_view dump = strandel::fuzz::textOf(data, size);
  bool granted = strandel::system::fullDiskAccessGranted(dump);
  // A row of another client neither grants nor takes away anything.
  std::string longer =
      std::string(dump) + "\nkTCCServiceSystemPolicyAllFiles|com.example.other|0|1|\n";
  check(strandel::system::fullDiskAccessGranted(longer) == granted,
        "another client's row changes nothing");

  bool value = strandel::system::textBoolValue(dump);
  check(strandel::system::textBoolValue(" " + std::string(dump)) == value,
        "leading blanks are skipped");
  return 0;
}
