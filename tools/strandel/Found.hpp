// Whether the thing a command names is on the chosen machine. A script must tell "there is no
// such disk" from an answer about one that is there (an empty answer included), as it tells
// them apart with findmnt, lsblk and df: the first exits 1 with one line on stderr.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "tools/strandel/Command.hpp"

namespace strandel::tool {

/// A BSD name or device path (disk3s1, /dev/disk3s1) that a registry object answers to, that a
/// mount is mounted from, or on the live host a device file.
bool deviceExists(const Context& context, std::string_view device);

/// A mount point of the mount table, exactly as given.
bool mountPointExists(std::string_view mountPoint);

/// A path on the machine that the file-system figures answer for.
bool pathExists(std::string_view path);

/// An answer about something named on the command line. When `exists` it is printed as
/// printAnswer prints it, with its status. Otherwise `missing` is said in one line on stderr,
/// the answer is still printed in JSON and plist (the library gave it; text has nothing to
/// add to the line) and the status is 1.
int printAnswerAbout(const Context& context, const std::optional<PlistValue>& answer, bool exists,
                     const std::string& missing,
                     const std::function<std::string(const PlistValue&)>& text = {},
                     const std::function<std::string(const PlistValue&)>& json = {});

}  // namespace strandel::tool
