// The folder a benchmark builds its image or tools in, below /tmp and removed with its holder.
#pragma once

#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace strandel::bench {

/// A fresh folder /tmp/strandel-bench-<what>-XXXXXX, removed with everything in it when the
/// holder goes. A bench that can't make one has nothing to measure: it stops, saying why.
class TemporaryFolder {
 public:
  explicit TemporaryFolder(const std::string& what) {
    std::string pattern = "/tmp/strandel-bench-" + what + "-XXXXXX";
    if (!::mkdtemp(pattern.data())) {
      std::perror("strandel bench: no temporary folder");
      std::exit(1);
    }
    path_ = pattern;
  }
  ~TemporaryFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;

  const std::filesystem::path& path() const noexcept { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace strandel::bench
