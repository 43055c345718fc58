// Translations from the `.strings` tables of the host application's bundle folder.
#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <new>

#include <strandel/Machine.hpp>

#include "base/FileBytes.hpp"
#include "platform/app/AppServices.hpp"
#include "platform/app/BundleChoice.hpp"
#include "platform/app/ProcessChoice.hpp"
#include "platform/app/StringsTable.hpp"

namespace strandel::platform {
namespace {

ProcessChoice& bundleChoice() {
  static ProcessChoice* choice = new ProcessChoice;  // never destroyed: read at exit too
  return *choice;
}

class BundleLocalizer final : public Localizer {
 public:
  std::string localized(std::string_view key, std::string_view table) override {
    std::string folder = chosenBundle();
    if (folder.empty()) return std::string(key);
    auto entries =
        tableAt(folder + "/" + std::string(table.empty() ? "Localizable" : table) + ".strings");
    if (!entries) return std::string(key);
    auto found = entries->find(key);
    return found == entries->end() ? std::string(key) : found->second;
  }

 private:
  struct CachedTable {
    std::optional<base::FileIdentity> identity;  // nothing: there was no file
    std::shared_ptr<const StringsTable> entries;
  };

  // Each table is parsed once and kept while its file stays the same: the volume list asks
  // for a few words per volume, and a warm lookup then costs one stat.
  std::shared_ptr<const StringsTable> tableAt(const std::string& path) {
    std::optional<base::FileIdentity> identity = base::identityOfPath(path);
    std::lock_guard lock(mutex_);
    auto cached = cache_.find(path);
    if (cached != cache_.end() && cached->second.identity == identity &&
        !(identity && base::changedTooRecently(*identity))) {
      return cached->second.entries;
    }
    std::shared_ptr<const StringsTable> entries;
    if (identity) {
      // A table that can't be read or parsed, or held in memory, has no entries, so each lookup
      // gives its key.
      try {
        auto bytes = base::readFileBytes(path, base::kNoSizeCap);
        auto parsed = bytes ? parseStringsTable(bytes.bytes) : std::nullopt;
        if (parsed) entries = std::make_shared<const StringsTable>(std::move(*parsed));
      } catch (const std::bad_alloc&) {
      }
    }
    cache_.insert_or_assign(path, CachedTable{identity, entries});
    return entries;
  }

  std::mutex mutex_;
  std::map<std::string, CachedTable, std::less<>> cache_;
};

}  // namespace

std::shared_ptr<Localizer> makeBundleLocalizer() { return std::make_shared<BundleLocalizer>(); }

std::string chosenBundle() { return bundleChoice().chosenOr("STRANDEL_BUNDLE"); }

void forgetChosenBundle() { bundleChoice().choose(std::nullopt); }

}  // namespace strandel::platform

namespace strandel {

void useBundle(std::string_view bundleDir) {
  platform::bundleChoice().choose(std::string(bundleDir));
}

}  // namespace strandel
