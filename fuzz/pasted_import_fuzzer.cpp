// What a customer pastes into a dump folder, as the importer reads it: a property list between
// prompt lines, `diskutil list`, `diskutil info` and `diskutil apfs list` in their text forms,
// line ends of other systems, a terminal session split into its commands, and a partial dump
// (those listings with the same text as mount.txt) built into an image with the layout, mount
// table and version guessed.
#include <cstdint>

#include "fuzz/FuzzCheck.hpp"
#include "tools/strandel/import/BsdName.hpp"
#include "tools/strandel/import/DiskListText.hpp"
#include "tools/strandel/import/DiskutilText.hpp"
#include "tools/strandel/import/ImportMac.hpp"
#include "tools/strandel/import/PastedText.hpp"
#include "tools/strandel/import/Transcript.hpp"

namespace {

using strandel::fuzz::check;
namespace importer = strandel::importer;

void checkSpan(std::string_view input) {
  auto span = importer::propertyListSpan(input);
  if (!span) return;
  check(span->data() >= input.data() && span->data() + span->size() <= input.data() + input.size(),
        "the pasted list lies inside the text");
  check(span->starts_with("<") && span->ends_with("</plist>"),
        "the pasted list runs from a tag to </plist>");
}

void checkListing(const strandel::PlistDict& list) {
  const strandel::PlistValue& wholes = list.at("AllDisksAndPartitions");
  check(wholes.asArray() && !wholes.asArray()->empty(), "a text listing has a disk");
  for (const strandel::PlistValue& whole : *wholes.asArray()) {
    const std::string* bsd =
        whole.find("DeviceIdentifier") ? whole.find("DeviceIdentifier")->asString() : nullptr;
    check(bsd && importer::bsdNumbers(*bsd), "every disk of a text listing has a BSD name");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input = strandel::fuzz::textOf(data, size);
  checkSpan(input);
  if (auto fed = importer::withLineFeeds(input)) {
    check(fed->find('\r') == std::string::npos && fed->size() <= input.size(),
          "line feeds alone, never more bytes");
  }
  for (const importer::TranscriptPart& part : importer::splitTranscript(input)) {
    check(!part.file.empty() && part.text.size() <= input.size(),
          "a session's part is a dump file, within the session");
  }
  importer::Dump dump;
  dump.diskList = importer::diskListFromText(input);
  if (dump.diskList) checkListing(*dump.diskList);
  dump.apfsList = importer::apfsListFromText(input);
  for (strandel::PlistDict& disk : importer::infoFromText(input)) {
    const std::string* bsd = disk.at("DeviceIdentifier").asString();
    check(bsd && importer::bsdNumbers(*bsd), "every disk of a text info has a BSD name");
    dump.info.insert_or_assign(*bsd, std::move(disk));
  }
  dump.mount = std::string(input);
  importer::Problems problems;
  importer::MachineImage image = importer::buildImage(dump, problems);
  check(image.machinePlist.asDictionary() != nullptr, "an image has its machine.plist");
  return 0;
}
