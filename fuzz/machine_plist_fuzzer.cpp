// A machine image's machine.plist, XML or binary, as the image loader checks it, and the UUID
// and mount URL texts that the check reads inside it.
#include <cstdint>

#include <strandel/PlistValue.hpp>

#include "fuzz/FuzzCheck.hpp"
#include "machineimage/MachinePlist.hpp"
#include "machineimage/Writer.hpp"
#include "plist/PlistWriter.hpp"

namespace {

using strandel::fuzz::check;
namespace machineimage = strandel::machineimage;

void checkResult(const machineimage::MachinePlistResult& result) {
  check((result.plist != nullptr) != !result.error.empty(),
        "a check gives a machine or a reason, never both");
  if (!result.plist) return;
  const auto& nodes = result.plist->nodes;
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    // Entries are in registry order: each one's descendants follow it, its parent precedes it.
    check(nodes[i].end > i && nodes[i].end <= nodes.size(), "an entry's descendants lie after it");
    if (nodes[i].parent != machineimage::kNoParent) {
      check(nodes[i].parent < i && nodes[nodes[i].parent].end >= nodes[i].end,
            "an entry lies inside its parent");
    }
  }
}

// The importer's streamed writing, its mount entries made one at a time, gives the bytes the
// whole value's XML form gives; where XML can't hold the value, a binary form of the same value
// (not the same bytes: the entries made anew share no objects as a read list may).
void checkStreamedWriting(const strandel::PlistValue& value) {
  const strandel::PlistDict* machine = value.asDictionary();
  const strandel::PlistValue* mounts = machine ? value.find("Mounts") : nullptr;
  if (!mounts || !mounts->asArray()) return;
  const strandel::PlistArray& entries = *mounts->asArray();
  for (const strandel::PlistValue& entry : entries) {
    if (!entry.asDictionary()) return;
  }
  std::string written;
  machineimage::PlistFileSink sink{[&](std::string_view piece) {
                                     written += piece;
                                     return true;
                                   },
                                   [&] {
                                     written.clear();
                                     return true;
                                   }};
  const machineimage::MountEntries made{entries.size(),
                                        [&](std::size_t i) { return *entries[i].asDictionary(); }};
  check(machineimage::writeMachinePlist(*machine, made, sink), "streamed writing succeeds");
  if (auto xml = strandel::plist::writeXml(value, strandel::plist::WriteMode::Exact)) {
    check(written == *xml, "streamed writing gives the whole value's XML");
  } else {
    auto again = strandel::readPlist(written);
    check(written.starts_with("bplist00") && again &&
              strandel::writeXmlPlist(*again) == strandel::writeXmlPlist(value),
          "streamed writing gives the whole value in binary");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes = strandel::fuzz::textOf(data, size);
  machineimage::MachinePlistResult result = machineimage::parseMachinePlist(bytes);
  checkResult(result);
  // The binary form of the same value is the same machine.
  if (auto value = strandel::readPlist(bytes)) {
    checkStreamedWriting(*value);
    machineimage::MachinePlistResult again =
        machineimage::parseMachinePlist(strandel::writeBinaryPlist(*value));
    if (value == strandel::readPlist(strandel::writeBinaryPlist(*value))) {
      check((again.plist != nullptr) == (result.plist != nullptr),
            "the binary form checks as the input did");
    }
  }

  if (auto uuid = machineimage::canonicalUuid(bytes)) {
    check(uuid->size() == 36 && machineimage::canonicalUuid(*uuid) == uuid,
          "a canonical UUID is its own canonical form");
  }
  machineimage::fileUrlProblem(bytes);
  return 0;
}
