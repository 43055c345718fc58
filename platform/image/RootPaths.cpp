// Resolution inside the root folder done by hand, with lstat and readlink, because the
// kernel's own confinement (openat2 and its RESOLVE_ flags) is Linux's alone and this backend
// is plain POSIX. Images are test and demo input, not an adversary racing the lookup, so a
// check-then-use window between the resolution and the use of its path is accepted.
#include "platform/image/RootPaths.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <deque>
#include <vector>

namespace strandel::platform::image {
namespace {

// The same bound the kernel puts on links met in one lookup; it also ends link loops.
constexpr int kMaxLinks = 40;

void pushComponents(std::deque<std::string>& pending, std::string_view path, bool atFront) {
  std::vector<std::string> parts;
  while (!path.empty()) {
    std::size_t slash = path.find('/');
    std::string_view part = path.substr(0, slash);
    if (!part.empty() && part != ".") parts.emplace_back(part);
    if (slash == std::string_view::npos) break;
    path.remove_prefix(slash + 1);
  }
  if (atFront) {
    pending.insert(pending.begin(), parts.begin(), parts.end());
  } else {
    pending.insert(pending.end(), parts.begin(), parts.end());
  }
}

std::string join(const std::string& root, const std::vector<std::string>& done, std::string_view more = {}) {
  std::string out = root;
  for (const auto& part : done) {
    out += '/';
    out += part;
  }
  if (!more.empty()) {
    out += '/';
    out += more;
  }
  return out;
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

// Resolves every component of `path`, following links, into the components of the real place
// under `root`. Nothing when a component is missing or the path leaves the root.
std::optional<std::vector<std::string>> resolveAll(const std::string& root, std::string_view path,
                                                   bool mustBeFolder) {
  std::deque<std::string> pending;
  pushComponents(pending, path, false);
  std::vector<std::string> done;
  int links = 0;
  while (!pending.empty()) {
    std::string part = std::move(pending.front());
    pending.pop_front();
    if (part == "..") {
      if (done.empty()) return std::nullopt;
      done.pop_back();
      continue;
    }
    std::string candidate = join(root, done, part);
    struct stat info;
    if (::lstat(candidate.c_str(), &info) != 0) return std::nullopt;
    if (S_ISLNK(info.st_mode)) {
      if (++links > kMaxLinks) return std::nullopt;
      auto target = readLink(candidate);
      if (!target || target->empty() || target->front() == '/') return std::nullopt;
      pushComponents(pending, *target, true);
      continue;
    }
    if ((!pending.empty() || mustBeFolder) && !S_ISDIR(info.st_mode)) return std::nullopt;
    done.push_back(std::move(part));
  }
  return done;
}

std::string imagePathOf(const std::vector<std::string>& done) {
  if (done.empty()) return "/";
  std::string out;
  for (const auto& part : done) {
    out += '/';
    out += part;
  }
  return out;
}

}  // namespace

std::optional<RootPath> resolveInRoot(const std::string& root, std::string_view path, LastLink last) {
  if (path.empty()) return std::nullopt;
  if (last == LastLink::Follow) {
    // A trailing slash asks for a folder, as it does of the kernel.
    auto done = resolveAll(root, path, path.back() == '/');
    if (!done) return std::nullopt;
    return RootPath{join(root, *done), imagePathOf(*done)};
  }
  std::size_t end = path.find_last_not_of('/');
  if (end == std::string_view::npos) return std::nullopt;  // the root itself
  std::size_t slash = path.rfind('/', end);
  std::string_view name = path.substr(slash == std::string_view::npos ? 0 : slash + 1,
                                      slash == std::string_view::npos ? end + 1 : end - slash);
  if (name == "." || name == "..") return std::nullopt;
  std::string_view folder = slash == std::string_view::npos ? std::string_view() : path.substr(0, slash + 1);
  auto done = resolveAll(root, folder, true);
  if (!done) return std::nullopt;
  std::string image = imagePathOf(*done);
  if (image.back() != '/') image += '/';
  image.append(name);
  return RootPath{join(root, *done, name), std::move(image)};
}

}  // namespace strandel::platform::image
