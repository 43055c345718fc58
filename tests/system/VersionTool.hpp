// A version tool for test images: prints the given bytes for "-productVersion" and for the
// bare report, and counts its runs in root/tmp/sw_vers-runs, one line per run.
#pragma once

#include <algorithm>
#include <filesystem>
#include <string>

#include "tests/support/ImageBuilder.hpp"

namespace strandel::testing {

inline ImageBuilder& addVersionTool(ImageBuilder& image, const std::string& productVersionOutput,
                                    const std::string& reportOutput = "") {
  image.tool("/usr/bin/sw_vers",
             "#!/bin/sh\n"
             "d=\"${0%/*}/sw_vers.d\"\n"
             "echo \"run $*\" >> \"${0%/usr/bin/sw_vers}/tmp/sw_vers-runs\"\n"
             "if [ \"$1\" = \"-productVersion\" ]; then /bin/cat \"$d/product-version\"; else "
             "/bin/cat \"$d/report\"; fi\n");
  image.file("/usr/bin/sw_vers.d/product-version", productVersionOutput);
  image.file("/usr/bin/sw_vers.d/report", reportOutput);
  return image;
}

/// How many times a tool of the image in `imageDir` counted a run in root/tmp/`counter`.
inline int toolRuns(const std::filesystem::path& imageDir, const std::string& counter = "sw_vers-runs") {
  return static_cast<int>(std::ranges::count(readFile(imageDir / "root" / "tmp" / counter), '\n'));
}

}  // namespace strandel::testing
