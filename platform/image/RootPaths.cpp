// Resolution beneath an image's root. No path of an image is ever looked up and then opened
// by name again: the kernel resolves it from the root's descriptor (openat2 with
// RESOLVE_IN_ROOT), or the walk opens one component at a time, with O_NOFOLLOW, from the
// descriptor of the folder before it. Either way a link or folder swapped in mid-lookup is met
// as what it is at that moment, and it can't lead above the root.
#include "platform/image/RootPaths.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <deque>
#include <vector>

#ifdef SYS_openat2
#include <linux/openat2.h>

#include "text/CharacterClass.hpp"
#endif

namespace strandel::platform::image {
namespace {

// The same bound the kernel puts on links met in one lookup; it also ends link loops.
constexpr int kMaxLinks = 40;

// The kernel gives up a RESOLVE_IN_ROOT lookup with EAGAIN when a rename elsewhere might have
// moved a ".." it crossed; asking again is what it expects.
constexpr int kKernelAttempts = 8;

std::atomic<bool> kernelLacksOpenat2{false};

void pushComponents(std::deque<std::string>& pending, std::string_view path) {
  std::vector<std::string> parts;
  while (!path.empty()) {
    std::size_t slash = path.find('/');
    std::string_view part = path.substr(0, slash);
    if (!part.empty() && part != ".") parts.emplace_back(part);
    if (slash == std::string_view::npos) break;
    path.remove_prefix(slash + 1);
  }
  pending.insert(pending.begin(), parts.begin(), parts.end());
}

std::optional<std::string> linkTarget(int linkFd) {
  std::string target(256, '\0');
  for (;;) {
    // An empty name reads the link that an O_PATH | O_NOFOLLOW descriptor stands for.
    ssize_t n = ::readlinkat(linkFd, "", target.data(), target.size());
    if (n < 0) return std::nullopt;
    if (static_cast<std::size_t>(n) < target.size()) {
      target.resize(static_cast<std::size_t>(n));
      return target;
    }
    target.resize(target.size() * 2);
  }
}

struct Folder {
  UniqueFd fd;
  std::string name;
};

// The walk: the folders entered so far, below the root, and the links met.
class Walk {
 public:
  explicit Walk(int root) : root_(root) {}

  // Opens `path` with `flags` (O_CLOEXEC and O_NOFOLLOW added to the last open), following
  // every link but, with `keepLast`, the last component's.
  UniqueFd open(std::string_view path, int flags, bool keepLast, mode_t mode) {
    bool mustBeFolder = !path.empty() && path.back() == '/';
    std::deque<std::string> pending;
    pushComponents(pending, path);
    int links = 0;
    while (!pending.empty()) {
      std::string part = std::move(pending.front());
      pending.pop_front();
      if (part == "..") {
        // ".." of the root is the root, as the kernel has it for a process's own root.
        if (!folders_.empty()) folders_.pop_back();
        continue;
      }
      bool last = pending.empty();
      if (last && keepLast) return openLast(part, flags, mode);
      UniqueFd probe(base::retryAfterSignal(
          [&] { return ::openat(current(), part.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC); }));
      if (!probe) {
        if (last && errno == ENOENT && (flags & O_CREAT)) return openLast(part, flags, mode);
        return {};
      }
      struct stat info;
      if (::fstat(probe.get(), &info) != 0) return {};
      if (S_ISLNK(info.st_mode)) {
        auto target = linkTarget(probe.get());
        if (++links > kMaxLinks || !target || target->empty()) return {};
        if (target->front() == '/') folders_.clear();
        pushComponents(pending, *target);
        continue;
      }
      // A path that ends in a slash asks for a folder, as it does of the kernel.
      if (!last || mustBeFolder) {
        if (!S_ISDIR(info.st_mode)) return {};
        folders_.push_back({std::move(probe), std::move(part)});
        if (last) return reopenCurrent(flags);
        continue;
      }
      names_ = std::move(part);
      if (flags & O_PATH) return probe;
      return openLast(names_, flags, mode);
    }
    // The path ended on a folder: the root, or one reached through "..".
    return reopenCurrent(flags);
  }

  // The path on the imaged machine of what `open` reached.
  std::string imagePath() const {
    std::string out;
    for (const Folder& folder : folders_) out += "/" + folder.name;
    if (!names_.empty()) out += "/" + names_;
    return out.empty() ? "/" : out;
  }

 private:
  int current() const { return folders_.empty() ? root_ : folders_.back().fd.get(); }

  UniqueFd openLast(const std::string& name, int flags, mode_t mode) {
    names_ = name;
    return UniqueFd(base::retryAfterSignal(
        [&] { return ::openat(current(), name.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, mode); }));
  }

  UniqueFd reopenCurrent(int flags) {
    names_.clear();
    return UniqueFd(base::retryAfterSignal(
        [&] { return ::openat(current(), ".", (flags & ~O_CREAT) | O_CLOEXEC); }));
  }

  int root_;
  std::vector<Folder> folders_;
  std::string names_;  // the last component, when it is not a folder
};

#ifdef SYS_openat2
// Nothing when the kernel has no openat2: then the caller walks instead.
std::optional<UniqueFd> openByKernel(int root, const std::string& path, int flags, bool keepLast,
                                     mode_t mode) {
  if (kernelLacksOpenat2.load(std::memory_order_relaxed)) return std::nullopt;
  open_how how{};
  how.flags = static_cast<std::uint64_t>(flags | O_CLOEXEC | (keepLast ? O_NOFOLLOW : 0));
  how.mode = (flags & O_CREAT) ? mode : 0;
  // Magic links (/proc/self/fd/...) are the host's, never the image's.
  how.resolve = RESOLVE_IN_ROOT | RESOLVE_NO_MAGICLINKS;
  for (int attempt = 0; attempt < kKernelAttempts; ++attempt) {
    long fd = base::retryAfterSignal(
        [&] { return ::syscall(SYS_openat2, root, path.c_str(), &how, sizeof how); });
    if (fd >= 0) return UniqueFd(static_cast<int>(fd));
    if (errno == ENOSYS) {
      kernelLacksOpenat2.store(true, std::memory_order_relaxed);
      return std::nullopt;
    }
    if (errno != EAGAIN) break;
  }
  return UniqueFd();
}
#else
std::optional<UniqueFd> openByKernel(int, const std::string&, int, bool, mode_t) {
  return std::nullopt;
}
#endif

}  // namespace

std::shared_ptr<const ImageRoot> ImageRoot::open(const std::string& hostPath, Resolver resolver) {
  if (hostPath.empty() || text::hasNul(hostPath)) return nullptr;
  UniqueFd fd(base::retryAfterSignal(
      [&] { return ::open(hostPath.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC); }));
  if (!fd) return nullptr;
  return std::make_shared<const ImageRoot>(std::move(fd), hostPath, resolver);
}

UniqueFd ImageRoot::openFile(std::string_view path, int flags, LastLink last, mode_t mode) const {
  if (path.empty() || text::hasNul(path)) return {};
  bool keepLast = last == LastLink::Keep;
  if (resolver_ == Resolver::Kernel) {
    if (auto fd = openByKernel(fd_.get(), std::string(path), flags, keepLast, mode))
      return std::move(*fd);
  }
  return Walk(fd_.get()).open(path, flags, keepLast, mode);
}

std::optional<Located> ImageRoot::locate(std::string_view path) const {
  // The walk, for it knows the name of every folder it enters; it is as confined as the kernel.
  if (path.empty() || text::hasNul(path)) return std::nullopt;
  Walk walk(fd_.get());
  UniqueFd fd = walk.open(path, O_PATH, false, 0);
  if (!fd) return std::nullopt;
  return Located{std::move(fd), walk.imagePath()};
}

std::optional<ParentFolder> ImageRoot::parentOf(std::string_view path) const {
  if (text::hasNul(path)) return std::nullopt;
  std::size_t end = path.find_last_not_of('/');
  if (end == std::string_view::npos) return std::nullopt;  // "" or the root itself
  std::size_t slash = path.rfind('/', end);
  std::size_t start = slash == std::string_view::npos ? 0 : slash + 1;
  std::string name(path.substr(start, end + 1 - start));
  if (name == "." || name == "..") return std::nullopt;
  std::string_view folderPath = start == 0 ? std::string_view(".") : path.substr(0, start);
  UniqueFd folder = openFile(folderPath, O_PATH | O_DIRECTORY);
  if (!folder) return std::nullopt;
  return ParentFolder{std::move(folder), std::move(name)};
}

}  // namespace strandel::platform::image
