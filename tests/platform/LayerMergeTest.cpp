// Putting a run's layer in place: a table of layers as an overlay leaves them (files, folders,
// links, removals, opaque folders) over a folder that already holds things, links to a folder
// outside among them, and what the folder holds afterwards. Nothing outside may change.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "base/Handles.hpp"
#include "platform/linux/RunLayer.hpp"
#include "tests/support/TempDir.hpp"

namespace strandel::platform::live {
namespace {

namespace fs = std::filesystem;
using testing::readFile;

// One entry of a tree: "name/" a folder, "name/!" an opaque folder, "name=text" a file (mode
// 0644), "name=text@4755" a file of that mode, "name->target" a link ("@OUT" stands for the
// folder outside), "name-" a removal (the overlay's character device 0/0).
bool makeEntry(const fs::path& root, std::string entry, const fs::path& outside) {
  if (auto at = entry.find("@OUT"); at != std::string::npos) entry.replace(at, 4, outside.string());
  if (entry.ends_with("/!")) {
    fs::path folder = root / entry.substr(0, entry.size() - 2);
    fs::create_directories(folder);
    return ::setxattr(folder.c_str(), "user.overlay.opaque", "y", 1, 0) == 0;
  }
  if (entry.ends_with("/")) return fs::create_directories(root / entry), true;
  if (entry.ends_with("-"))
    return ::mknod((root / entry.substr(0, entry.size() - 1)).c_str(), S_IFCHR, makedev(0, 0)) == 0;
  if (auto arrow = entry.find("->"); arrow != std::string::npos) {
    fs::create_symlink(entry.substr(arrow + 2), root / entry.substr(0, arrow));
    return true;
  }
  auto equals = entry.find('='), mode = entry.find('@');
  fs::path file = root / entry.substr(0, equals);
  testing::writeFile(file, entry.substr(equals + 1, mode == std::string::npos ? std::string::npos : mode - equals - 1));
  if (mode != std::string::npos) ::chmod(file.c_str(), std::stoi(entry.substr(mode + 1), nullptr, 8));
  return true;
}

// The tree beneath `root` in the same notation, sorted; files show their mode.
std::set<std::string> listTree(const fs::path& root, const fs::path& outside) {
  std::set<std::string> entries;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
    std::string name = it->path().lexically_relative(root).string();
    struct stat info;
    ::lstat(it->path().c_str(), &info);
    if (S_ISLNK(info.st_mode)) {
      std::string target = fs::read_symlink(it->path()).string();
      if (target.starts_with(outside.string())) target = "@OUT" + target.substr(outside.string().size());
      entries.insert(name + "->" + target);
    } else if (S_ISDIR(info.st_mode)) {
      entries.insert(name + "/");
    } else {
      char mode[8];
      std::snprintf(mode, sizeof mode, "%o", info.st_mode & 07777);
      entries.insert(name + "=" + readFile(it->path()) + "@" + mode);
    }
  }
  return entries;
}

TEST(LayerMerge, WhatARunLeftIsPutInPlaceAndNothingOutsideChanges) {
  const struct {
    const char* name;
    std::vector<std::string> before, layer;
    std::set<std::string> after;
  } cases[] = {
      {"an empty layer (most runs write nothing)", {"kept=k"}, {}, {"kept=k@644"}},
      {"a new file and folder",
       {"kept=k"},
       {"new=n", "dir/", "dir/f=x"},
       {"kept=k@644", "new=n@644", "dir/", "dir/f=x@644"}},
      {"a changed file replaces a link instead of writing through it", {"x->@OUT/secret"}, {"x=mine"}, {"x=mine@644"}},
      {"a folder replaces a link to a folder outside", {"d->@OUT"}, {"d/", "d/f=in"}, {"d/", "d/f=in@644"}},
      {"a link stays a link", {}, {"l->/etc/passwd"}, {"l->/etc/passwd"}},
      {"set-id bits are dropped", {}, {"tool=#!@4755"}, {"tool=#!@755"}},
      {"removals of a file and of a whole folder",
       {"gone=g", "tree/", "tree/a/", "tree/a/b=b", "stay=s"},
       {"gone-", "tree-"},
       {"stay=s@644"}},
      {"a folder that was only added to keeps what it held",
       {"d/", "d/old=o"},
       {"d/", "d/new=n"},
       {"d/", "d/old=o@644", "d/new=n@644"}},
      {"an opaque folder replaces the folder beneath", {"d/", "d/old=o"}, {"d/!", "d/new=n"}, {"d/", "d/new=n@644"}},
  };
  for (const auto& c : cases) {
    testing::TempDir layer, folder, outside;
    testing::writeFile(outside.path() / "secret", "outside");
    fs::create_directory(layer.path() / "upper");
    bool made = true;
    for (const std::string& entry : c.before) made = makeEntry(folder.path(), entry, outside.path()) && made;
    for (const std::string& entry : c.layer) made = makeEntry(layer.path() / "upper", entry, outside.path()) && made;
    if (!made) {
      std::printf("skipped \"%s\": this test can't make what an overlay makes (a device or a user xattr)\n", c.name);
      continue;
    }
    base::UniqueFd root(::open(layer.path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    base::UniqueFd target(::open(folder.path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    // Whether it held anything decides when the runner lets go of the layer.
    EXPECT_EQ(mergeRunLayer(root.get(), target.get()), !c.layer.empty()) << c.name;
    EXPECT_EQ(listTree(folder.path(), outside.path()), c.after) << c.name;
    EXPECT_EQ(listTree(outside.path(), outside.path()), std::set<std::string>{"secret=outside@644"}) << c.name;
  }
}

}  // namespace
}  // namespace strandel::platform::live
