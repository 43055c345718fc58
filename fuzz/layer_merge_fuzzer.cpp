// Putting a run's layer in place. The input is the layer a stranger's tool leaves, one entry a
// line: "d PATH" a folder, "f PATH TEXT" a file, "l PATH TARGET" a link, "w PATH" a removal
// (character device 0/0), "o PATH" an opaque folder, "p PATH" a FIFO; a PATH is made of the
// letters a to e and slashes. It is put in place over a folder holding a file, a folder and a
// link to a folder outside: the merge must end, and nothing outside may change.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "base/Handles.hpp"
#include "fuzz/FuzzCheck.hpp"
#include "platform/linux/RunLayer.hpp"

namespace {

namespace fs = std::filesystem;
using strandel::fuzz::check;

constexpr int kMaxEntries = 64;

// A path of the input's own letters, at most eight deep, never leaving the layer.
bool plainPath(const std::string& path) {
  if (path.empty() || path.size() > 32 || path.front() == '/') return false;
  for (char c : path)
    if (c != '/' && (c < 'a' || c > 'e')) return false;
  return path.find("//") == std::string::npos;
}

void makeEntry(const fs::path& upper, const std::string& line) {
  std::istringstream in(line);
  std::string kind, path, rest;
  in >> kind >> path;
  std::getline(in, rest);
  if (!plainPath(path)) return;
  fs::path at = upper / path;
  std::error_code ignored;
  fs::create_directories(at.parent_path(), ignored);
  if (kind == "d") {
    fs::create_directories(at, ignored);
  } else if (kind == "f") {
    std::ofstream(at) << rest;
  } else if (kind == "l") {
    fs::create_symlink(rest.empty() ? "." : rest.substr(1), at, ignored);
  } else if (kind == "w") {
    ::mknod(at.c_str(), S_IFCHR, makedev(0, 0));
  } else if (kind == "o") {
    fs::create_directories(at, ignored);
    ::setxattr(at.c_str(), "user.overlay.opaque", "y", 1, 0);
  } else if (kind == "p") {
    ::mkfifo(at.c_str(), 0644);
  }
}

std::string outsideState(const fs::path& outside) {
  std::string state;
  for (const auto& entry : fs::recursive_directory_iterator(outside)) {
    state += entry.path().string() + "\n";
    if (entry.is_regular_file())
      state += std::string(std::istreambuf_iterator<char>(std::ifstream(entry.path()).rdbuf()), {});
  }
  return state;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  char pattern[] = "/tmp/strandel-fuzz-layer-XXXXXX";
  if (!::mkdtemp(pattern)) return 0;
  const fs::path base = pattern, upper = base / "layer/upper", folder = base / "folder",
                 outside = base / "outside";
  fs::create_directories(upper);
  fs::create_directories(folder / "b");
  fs::create_directories(outside / "c");
  std::ofstream(outside / "secret") << "outside";
  std::ofstream(folder / "a") << "before";
  fs::create_directory_symlink(outside, folder / "c");
  fs::create_symlink(outside / "secret", folder / "d");
  const std::string before = outsideState(outside);

  std::istringstream lines(std::string(strandel::fuzz::textOf(data, size)));
  int count = 0;
  for (std::string line; count < kMaxEntries && std::getline(lines, line); ++count)
    makeEntry(upper, line);

  strandel::base::UniqueFd root(::open((base / "layer").c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  strandel::base::UniqueFd target(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  strandel::platform::live::mergeRunLayer(root.get(), target.get());
  check(outsideState(outside) == before, "nothing outside the folder changes");
  std::error_code ignored;
  fs::remove_all(base, ignored);
  return 0;
}
