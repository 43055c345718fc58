// The settings file of the host application, read and written through the file store: the
// input is the file's bytes as some earlier writer (or a damaged disk) left them.
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <strandel/PlistValue.hpp>

#include "fuzz/FuzzCheck.hpp"
#include "platform/app/AppServices.hpp"
#include "plist/PlistReader.hpp"

namespace {

using strandel::fuzz::check;
namespace fs = std::filesystem;

// A private folder per process: a write leaves the lock file, and a damaged file is moved aside
// beside the store, so the folder is emptied after every input.
class StoreFolder {
 public:
  StoreFolder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp && *tmp ? tmp : "/tmp") + "/strandel-fuzz-settings-XXXXXX";
    check(::mkdtemp(pattern.data()) != nullptr, "a temporary folder for the settings");
    folder_ = pattern;
  }
  ~StoreFolder() {
    std::error_code error;
    fs::remove_all(folder_, error);
  }
  std::string storePath() const { return (folder_ / "store.plist").string(); }
  void empty() {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder_, error))
      fs::remove_all(entry.path(), error);
  }

 private:
  fs::path folder_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static StoreFolder folder;
  const std::string path = folder.storePath();
  std::string_view bytes = strandel::fuzz::textOf(data, size);
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    check(out.good(), "the settings file is written");
  }
  // What the file holds as the store reads it: a dictionary, or nothing for damaged bytes.
  strandel::plist::PlistReadResult read;
  if (!bytes.empty()) read = strandel::plist::readPlistExplained(bytes);
  const strandel::PlistDict* before = read.value ? read.value->asDictionary() : nullptr;
  std::string firstKey = before && !before->empty() ? before->begin()->first : "ZVCurrentSWVers";

  {
    auto store = strandel::platform::makeFileSettings(path);
    auto found = store->get(firstKey);
    check(found.has_value() == (before && before->count(firstKey) == 1),
          "the store holds what the file holds");

    const strandel::PlistValue written("10.15.7");
    // A list holding more than we take is the application's, and stays as it is.
    const bool wrote = store->set("fuzz.written", written);
    check(wrote == !read.beyondLimits,
          "a store takes a write over any file but one beyond our limits");
    if (!wrote) {
      std::ifstream in(path, std::ios::binary);
      std::string after((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      check(after == bytes, "a file beyond our limits is left byte for byte");
      folder.empty();
      return 0;
    }
    check(store->get("fuzz.written") == written, "a written value reads back");
  }
  {
    // A new store of the same file, with nothing cached, reads the write, and every other
    // entry of a readable store as it was.
    auto fresh = strandel::platform::makeFileSettings(path);
    check(fresh->get("fuzz.written") == strandel::PlistValue("10.15.7"),
          "a written value is in the file");
    if (before) {
      for (const auto& [key, value] : *before) {
        if (key == "fuzz.written") continue;
        auto kept = fresh->get(key);
        // Compared by their bytes, so that a NaN equals itself.
        check(kept && strandel::writeBinaryPlist(*kept) == strandel::writeBinaryPlist(value),
              "a write keeps the other entries");
      }
    }
  }
  folder.empty();
  return 0;
}
