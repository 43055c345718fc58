// Where the tests find the project's files and the built tool.
#pragma once

#include <string>

namespace strandel::testing {

/// The project's source folder.
inline std::string sourceDir() { return STRANDEL_SOURCE_DIR; }

/// The built `strandel` tool.
inline std::string toolPath() { return STRANDEL_TOOL_PATH; }

/// A sample machine image shipped under samples/machines/.
inline std::string sampleMachine(const std::string& name) { return sourceDir() + "/samples/machines/" + name; }

}  // namespace strandel::testing
