// Platform paths of an image: "/P" names IMAGE/root/P, and nothing outside root/ can be named.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace strandel::platform::image {

/// A platform path found inside an image's root folder.
struct RootPath {
  std::string hostPath;   // where it is on the host: ROOT/a/b
  std::string imagePath;  // what it is on the imaged machine, links resolved: /a/b
};

/// Whether the last component of a path is followed when it is a link.
enum class LastLink { Follow, Keep };

/// Finds the platform path `path` inside `root`, component by component, resolving "." and
/// ".." and relative links as the imaged machine would. Nothing when the path does not exist,
/// or when it would leave the root: a ".." above it, an absolute link (it names the host's
/// files, not the image's), a relative link climbing out. A relative `path` is taken from the
/// root, the machine's only working folder. With `LastLink::Keep` the last component is not
/// followed and need not exist (for creating and removing it), but its folder must.
std::optional<RootPath> resolveInRoot(const std::string& root, std::string_view path, LastLink last);

}  // namespace strandel::platform::image
