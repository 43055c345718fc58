// Mount points as the disk arbitration service hands them out: file URLs.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace strandel::importer {

/// The mount URL of an absolute mount point: "file://", the path with every byte outside
/// RFC 3986's path characters percent-encoded (upper-case hex), and one trailing "/".
/// "/" gives "file:///", "/Volumes/My Disk" gives "file:///Volumes/My%20Disk/". Nothing for a
/// path that does not start with "/".
std::optional<std::string> mountPointUrl(std::string_view mountPoint);

}  // namespace strandel::importer
