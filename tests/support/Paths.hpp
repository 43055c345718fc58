// Where the tests find the project's files and the built tool.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

namespace strandel::testing {

/// The project's source folder.
inline std::string sourceDir() { return STRANDEL_SOURCE_DIR; }

/// The built `strandel` tool.
inline std::string toolPath() { return STRANDEL_TOOL_PATH; }

/// A sample machine image shipped under samples/machines/.
inline std::string sampleMachine(const std::string& name) { return sourceDir() + "/samples/machines/" + name; }

/// The shared real-world test data (disk images written by macOS, recordings): ../shared/real-world
/// beside the checkout, or beside the folder of worktrees; STRANDEL_REAL_WORLD names another.
/// "" when there is none (the tests that need it then skip).
inline std::string realWorldDir() {
  std::error_code error;
  if (const char* chosen = std::getenv("STRANDEL_REAL_WORLD"); chosen && *chosen) return chosen;
  for (const char* up : {"/../shared/real-world", "/../../shared/real-world"}) {
    std::string candidate = sourceDir() + up;
    if (std::filesystem::is_directory(candidate, error)) return candidate;
  }
  return "";
}

}  // namespace strandel::testing
