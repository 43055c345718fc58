// Choosing the machine that Strandel answers for: the live host, or a machine image.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <strandel/Export.hpp>

namespace strandel {

/// Makes the machine image in the folder `imageDir` the machine of the whole process.
/// Gives nothing on success, or the one line that says why the image can't be used (the
/// machine in use then stays as it was). Without a call, the first use of the library reads
/// the environment variable STRANDEL_MACHINE, and uses the live host when it is not set (or
/// names a folder that is not a usable image: the library has no one to tell, so it falls back
/// to the live host silently; the tool refuses such a folder with exit status 2).
STRANDEL_EXPORT std::optional<std::string> useMachine(std::string_view imageDir);

/// Makes the live host the machine of the whole process. Never fails: on a host without a disk
/// arbitration service (Linux) its volume list is empty.
STRANDEL_EXPORT void useLiveMachine();

/// Names the host application's bundle folder, which holds its `.strings` translation tables
/// (`ZorvikLocal.strings`, `Localizable.strings`). "" means none: every lookup gives its key.
/// Without a call, the environment variable STRANDEL_BUNDLE names it. A folder that does not
/// exist, or a table it lacks or can't be read, is not an error: lookups give their keys.
STRANDEL_EXPORT void useBundle(std::string_view bundleDir);

/// Names the file that keeps the host application's settings. Without a call, the environment
/// variable STRANDEL_SETTINGS names it; without that, the live host keeps them under
/// $XDG_CONFIG_HOME and an image keeps them in memory. "" takes the choice back. A file that
/// can't be read is an empty store; a write that fails leaves the file as it was.
STRANDEL_EXPORT void useSettingsFile(std::string_view path);

}  // namespace strandel
