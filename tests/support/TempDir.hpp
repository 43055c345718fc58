// A temporary folder that is removed with everything in it when the value goes.
#pragma once

#include <filesystem>
#include <string>

namespace strandel::testing {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::string str() const { return path_.string(); }

 private:
  std::filesystem::path path_;
};

/// Writes `contents` to `path`, creating its folders; `mode` for executables (scripts).
void writeFile(const std::filesystem::path& path, const std::string& contents, unsigned mode = 0644);

/// The whole contents of the file at `path`; "" when it cannot be read.
std::string readFile(const std::filesystem::path& path);

}  // namespace strandel::testing
