// The settings store kept in a property-list file, and which file the process uses.
//
// Readers never lock: a writer replaces the file by renaming a complete new one over it, so a
// reader sees the old file or the new one, never a mix. Writers take an exclusive lock on a
// separate lock file for their whole read-modify-write, so no update is lost between processes.
//
// The file is the host application's own, shared with it: a write keeps every other key and
// value exactly, in the file's own form (binary stays binary, XML stays XML, unless XML can't
// hold a text and the binary form must). A file that is a property list holding more than we
// take (nesting, size) is left byte for byte as it is and the write fails; only bytes that are
// no property list at all are moved aside. A file above kMaxSettingsSize is neither read nor
// written.
//
// A settings path that is a link is written through, as editors do: the new file replaces the
// link's final target, and the link stays. (Replacing the link would silently cut the store
// loose from wherever the user keeps it.) Anything at the path that is not a regular file (a
// FIFO, a device, a folder) is unreadable, and is never waited on.
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <mutex>
#include <new>
#include <string_view>

#include <strandel/Machine.hpp>

#include "base/FileBytes.hpp"
#include "platform/app/AppServices.hpp"
#include "platform/app/ProcessChoice.hpp"
#include "platform/app/ProgramName.hpp"
#include "plist/PlistReader.hpp"
#include "plist/PlistWriter.hpp"

namespace strandel::platform {
namespace {

struct DirTraits {
  static DIR* invalid() noexcept { return nullptr; }
  static void free(DIR* dir) noexcept { ::closedir(dir); }
};

// Far above any real defaults file, and below what reading could make a burden.
constexpr std::size_t kMaxSettingsSize = std::size_t{64} << 20;

enum class FileState { Missing, Read, Unreadable };

struct LoadedFile {
  FileState state = FileState::Missing;
  std::string bytes;  // "" for a missing file, and for an empty one: no settings yet
  std::optional<base::FileIdentity> identity;
};

// One line, once per process: a store too large to read reads as empty on every call.
void sayTooLarge(const std::string& path) {
  static std::once_flag said;
  std::call_once(said, [&] {
    std::fprintf(stderr,
                 "strandel: the settings file %s is larger than %zu MB: not read, not written\n",
                 path.c_str(), kMaxSettingsSize >> 20);
  });
}

LoadedFile load(const std::string& path) {
  LoadedFile loaded;
  UniqueFd fd(base::retryAfterSignal(
      [&] { return ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC); }));
  if (!fd) {
    loaded.state = errno == ENOENT ? FileState::Missing : FileState::Unreadable;
    return loaded;
  }
  struct stat info;
  // A folder at the path is not a damaged store: it is left alone, and nothing is stored.
  if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
    loaded.state = FileState::Unreadable;
    return loaded;
  }
  loaded.identity = base::identityOf(info);
  base::FileBytes bytes = base::readOpenFile(fd.get(), kMaxSettingsSize);
  if (!bytes) {
    if (bytes.error == base::ReadError::TooLarge) sayTooLarge(path);
    loaded.state = FileState::Unreadable;
    return loaded;
  }
  loaded.state = FileState::Read;
  loaded.bytes = std::move(bytes.bytes);
  return loaded;
}

// What a file's bytes hold for the store.
struct Store {
  enum class State { Read, NotAStore, BeyondLimits } state = State::Read;
  PlistDict entries;
  bool binary = false;  // the form the file is written in
};

Store storeIn(const std::string& bytes) {
  Store store;
  if (bytes.empty()) return store;
  plist::PlistReadResult read = plist::readPlistExplained(bytes);
  if (read.beyondLimits) {
    store.state = Store::State::BeyondLimits;
  } else if (!read.value || !read.value->asDictionary()) {
    store.state = Store::State::NotAStore;
  } else {
    store.entries = std::move(*read.value->asDictionary());
    store.binary = bytes.starts_with("bplist00");
  }
  return store;
}

// The store in its own form, every value exactly; XML gives way to binary for what it can't
// hold. Nothing when neither form can (a text holding U+0000).
std::optional<std::string> bytesOf(PlistDict entries, bool binary) {
  PlistValue store(std::move(entries));
  std::optional<std::string> bytes;
  if (!binary) bytes = plist::writeXml(store, plist::WriteMode::Exact);
  if (!bytes) bytes = plist::writeBinary(store, plist::WriteMode::Exact);
  if (bytes && bytes->size() > kMaxSettingsSize) return std::nullopt;
  return bytes;
}

std::string folderOf(const std::string& path) {
  std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Creates the folder and any missing parents, private to the user.
bool makeFolders(const std::string& folder) {
  for (std::size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
    std::string prefix = folder.substr(0, slash);
    if (::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) return false;
    if (slash == std::string::npos) break;
  }
  struct stat info;
  return ::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Strandel's own temporary files: "<store>.strandel-tmp-" and the six letters or digits that
// mkostemp puts in place of its X's. The sweep below removes nothing else.
constexpr std::string_view kTemporaryInfix = ".strandel-tmp-";
constexpr std::size_t kTemporaryLetters = 6;

bool isOurTemporaryFile(std::string_view name, std::string_view prefix) {
  if (name.size() != prefix.size() + kTemporaryLetters || !name.starts_with(prefix)) return false;
  name.remove_prefix(prefix.size());
  return std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
  });
}

std::optional<std::string> readLink(const std::string& path) {
  std::string target(256, '\0');
  for (;;) {
    ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
    if (n < 0) return std::nullopt;
    if (static_cast<std::size_t>(n) < target.size()) {
      target.resize(static_cast<std::size_t>(n));
      return target;
    }
    target.resize(target.size() * 2);
  }
}

// The file a write replaces: `path` itself, or the final target of the links it leads
// through (which need not exist yet). Nothing for a loop of links.
std::optional<std::string> writeTarget(const std::string& path) {
  constexpr int kMaxLinks = 40;
  std::string current = path;
  for (int link = 0; link < kMaxLinks; ++link) {
    struct stat info;
    if (::lstat(current.c_str(), &info) != 0)
      return errno == ENOENT ? std::optional(current) : std::nullopt;
    if (!S_ISLNK(info.st_mode)) return current;
    auto target = readLink(current);
    if (!target || target->empty()) return std::nullopt;
    current = target->front() == '/' ? *target : folderOf(current) + "/" + *target;
  }
  return std::nullopt;
}

// Writes the bytes to a new file beside `path` and renames it over `path`. On any failure the
// old file stays as it was and the new one is removed. Gives the identity of the file now at
// `path`.
std::optional<base::FileIdentity> replaceFile(const std::string& path, std::string_view bytes) {
  std::string temporary = path + std::string(kTemporaryInfix) + std::string(kTemporaryLetters, 'X');
  UniqueFd fd(::mkostemp(temporary.data(), O_CLOEXEC));
  if (!fd) return std::nullopt;
  struct stat info;
  bool written = base::writeAll(fd.get(), bytes) == 0 && ::fsync(fd.get()) == 0 &&
                 ::fstat(fd.get(), &info) == 0;
  // close can report a late write error (on network file systems); it counts as a failure.
  written = ::close(fd.release()) == 0 && written;
  if (!written || ::rename(temporary.c_str(), path.c_str()) != 0) {
    ::unlink(temporary.c_str());
    return std::nullopt;
  }
  // The rename itself is made durable by syncing the folder. If that fails the new file is
  // already in place for every reader, so the write still counts as done.
  UniqueFd folder(base::retryAfterSignal(
      [&] { return ::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); }));
  if (folder) ::fsync(folder.get());
  return base::identityOf(info);
}

// Only lock holders write temporary files, so one found by the lock holder was left by a
// writer that died mid-write; without this they would pile up beside the store.
void removeStaleTemporaryFiles(const std::string& path) {
  std::string folder = folderOf(path);
  std::string prefix = path.substr(path.find_last_of('/') + 1) + std::string(kTemporaryInfix);
  base::ScopedGeneric<DIR*, DirTraits> dir(::opendir(folder.c_str()));
  if (!dir) return;
  while (dirent* entry = ::readdir(dir.get())) {
    if (isOurTemporaryFile(entry->d_name, prefix)) ::unlinkat(::dirfd(dir.get()), entry->d_name, 0);
  }
}

// Moves a file that does not parse to "<path>.corrupt-<unix time>" so that nobody's settings
// are overwritten unseen. Only lock holders create these names, so checking for a free one and
// renaming to it can't race with another writer.
bool moveAside(const std::string& path) {
  std::string base =
      path + ".corrupt-" + std::to_string(static_cast<long long>(std::time(nullptr)));
  for (int attempt = 0; attempt < 1000; ++attempt) {
    std::string aside = attempt == 0 ? base : base + "-" + std::to_string(attempt);
    struct stat info;
    if (::lstat(aside.c_str(), &info) == 0) continue;
    if (errno != ENOENT) return false;
    return ::rename(path.c_str(), aside.c_str()) == 0;
  }
  return false;
}

class FileSettings final : public Settings {
 public:
  explicit FileSettings(std::string path) : path_(std::move(path)) {}

  std::optional<PlistValue> get(std::string_view key) override {
    auto store = currentStore();
    if (!store) return std::nullopt;
    auto found = store->find(key);
    if (found == store->end()) return std::nullopt;
    return found->second;
  }

  bool set(std::string_view key, const PlistValue& value) override {
    if (path_.find('\0') != std::string::npos || key.find('\0') != std::string_view::npos)
      return false;
    if (!makeFolders(folderOf(path_))) return false;
    // The lock is never a link (a planted one would have its target created) nor anything
    // but a plain file.
    std::string lockPath = path_ + ".lock";
    UniqueFd lock(base::retryAfterSignal([&] {
      return ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    }));
    struct stat lockInfo;
    if (!lock || ::fstat(lock.get(), &lockInfo) != 0 || !S_ISREG(lockInfo.st_mode)) return false;
    if (base::retryAfterSignal([&] { return ::flock(lock.get(), LOCK_EX); }) != 0) return false;

    auto target = writeTarget(path_);
    if (!target) return false;
    removeStaleTemporaryFiles(*target);
    // Read afresh under the lock: the cache may predate another process's write.
    LoadedFile loaded = load(*target);
    if (loaded.state == FileState::Unreadable) return false;
    Store store = storeIn(loaded.bytes);
    if (store.state == Store::State::BeyondLimits) return false;
    if (store.state == Store::State::NotAStore) {
      if (!moveAside(*target)) return false;
      store = Store{};
    }
    store.entries.insert_or_assign(std::string(key), value);
    std::optional<std::string> bytes = bytesOf(std::move(store.entries), store.binary);
    if (!bytes) return false;
    auto identity = replaceFile(*target, *bytes);
    if (!identity) return false;

    std::lock_guard guard(mutex_);
    // The cache stays warm when it held the very file this write started from.
    if (cacheValid_ && cache_ && cachedIdentity_ == loaded.identity &&
        !(loaded.identity && base::changedTooRecently(*loaded.identity))) {
      auto updated = std::make_shared<PlistDict>(*cache_);
      updated->insert_or_assign(std::string(key), value);
      cache_ = std::move(updated);
      cachedIdentity_ = identity;
    } else {
      cacheValid_ = false;
    }
    return true;
  }

 private:
  // The store as the file holds it now. A warm call costs a stat and a clock read: the file is
  // parsed again only when it is another file than the one cached, or too fresh to tell.
  std::shared_ptr<const PlistDict> currentStore() {
    if (path_.find('\0') != std::string::npos) return nullptr;
    std::optional<base::FileIdentity> identity = base::identityOfPath(path_);
    if (!identity && errno != ENOENT) return nullptr;
    std::lock_guard guard(mutex_);
    if (cacheValid_ && cachedIdentity_ == identity &&
        !(identity && base::changedTooRecently(*identity)))
      return cache_;
    LoadedFile loaded = load(path_);
    if (loaded.state == FileState::Unreadable) return nullptr;
    // A file that does not parse reads as an empty store; the next write moves it aside.
    cache_ = std::make_shared<const PlistDict>(std::move(storeIn(loaded.bytes).entries));
    cachedIdentity_ = loaded.identity;
    cacheValid_ = true;
    return cache_;
  }

  const std::string path_;
  std::mutex mutex_;
  bool cacheValid_ = false;
  std::optional<base::FileIdentity> cachedIdentity_;  // nothing: the cache is of a missing file
  std::shared_ptr<const PlistDict> cache_;
};

ProcessChoice& settingsChoice() {
  static ProcessChoice* choice = new ProcessChoice;  // never destroyed: read at exit too
  return *choice;
}

std::string environmentValue(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

std::string homeFolder() {
  if (std::string home = environmentValue("HOME"); !home.empty()) return home;
  // The account database is asked once: the settings are named again on every call.
  static const std::string accountHome = [] {
    passwd entry;
    passwd* found = nullptr;
    char buffer[4096];
    if (::getpwuid_r(::getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found &&
        found->pw_dir) {
      return std::string(found->pw_dir);
    }
    return std::string();
  }();
  return accountHome;
}

}  // namespace

std::shared_ptr<Settings> makeFileSettings(std::string path) {
  return std::make_shared<FileSettings>(std::move(path));
}

std::string chosenSettingsFile() { return settingsChoice().chosenOr("STRANDEL_SETTINGS"); }

std::string defaultSettingsFile() {
  std::string program = programName();
  // XDG base directory rules ignore a relative XDG_CONFIG_HOME.
  std::string config = environmentValue("XDG_CONFIG_HOME");
  if (!config.starts_with('/')) {
    std::string home = homeFolder();
    if (home.empty()) return "";
    config = home + "/.config";
  }
  return config + "/strandel/" + program + ".plist";
}

}  // namespace strandel::platform

namespace strandel {

// A call with "" takes the choice back: STRANDEL_SETTINGS, else the default file, apply again.
void useSettingsFile(std::string_view path) {
  platform::settingsChoice().choose(path.empty() ? std::nullopt : std::optional<std::string>(path));
}

}  // namespace strandel
