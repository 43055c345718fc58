// Files of this host and the current user's name.
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <new>
#include <vector>

#include "base/FileBytes.hpp"
#include "platform/posix/LiveServices.hpp"

namespace strandel::platform::live {
namespace {

// A path with a NUL inside can't be named to the kernel; it is refused instead of cut short.
std::optional<std::string> terminated(std::string_view path) {
  if (path.empty() || path.find('\0') != std::string_view::npos) return std::nullopt;
  return std::string(path);
}

class LiveFiles final : public Files {
 public:
  std::optional<PlistValue> readPlistFile(std::string_view path) override {
    auto name = terminated(path);
    if (!name) return std::nullopt;
    // Memory running out on a large file is that file's failure, not the caller's exception.
    try {
      auto bytes = base::readFileBytes(*name, base::kNoSizeCap);
      if (!bytes) return std::nullopt;
      return readPlist(bytes.bytes);
    } catch (const std::bad_alloc&) {
      return std::nullopt;
    }
  }

  UniqueFd createExclusive(std::string_view path) override {
    auto name = terminated(path);
    if (!name) return {};
    // unlink never follows a link and refuses a folder, which then makes the exclusive
    // create below fail: a folder at the path is never emptied or replaced.
    ::unlink(name->c_str());
    return UniqueFd(base::retryAfterSignal([&] {
      return ::open(name->c_str(), O_CREAT | O_EXCL | O_NOFOLLOW | O_RDWR | O_CLOEXEC, 0600);
    }));
  }

  bool remove(std::string_view path) override {
    auto name = terminated(path);
    return name && ::unlink(name->c_str()) == 0;
  }

  std::string userName() override { return hostUserName(); }
};

}  // namespace

std::string hostUserName() {
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
  passwd entry;
  passwd* found = nullptr;
  if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
      found->pw_name && *found->pw_name)
    return found->pw_name;
  // Containers often run under a uid that has no account entry; the environment still names
  // the user, else the uid is all there is.
  for (const char* variable : {"USER", "LOGNAME"}) {
    if (const char* name = std::getenv(variable); name && *name) return name;
  }
  return std::to_string(::geteuid());
}

std::unique_ptr<Files> makeLiveFiles() { return std::make_unique<LiveFiles>(); }

}  // namespace strandel::platform::live
