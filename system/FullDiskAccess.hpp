// The Full Disk Access probe's reading of the privacy database dump, apart from the tool run so
// that it can be fed any bytes.
#pragma once

#include <string_view>

namespace strandel::system {

/// Whether `dump` (the privacy database's `access` table as text: one row a line, columns split
/// by "|") has a true grant of "kTCCServiceSystemPolicyAllFiles" for each of the three clients:
/// the application, its background tool and the Rundle background agent. False for anything
/// else, an empty or unreadable dump included.
bool fullDiskAccessGranted(std::string_view dump);

/// The boolean value of a text as the platform's text classes read it: after leading blanks, an
/// optional sign and any zeros, true when the next character is Y, y, T, t or a digit 1 to 9;
/// the rest is ignored. False for anything else, "" included.
bool textBoolValue(std::string_view text);

}  // namespace strandel::system

namespace strandel::system {

/// Whether the privacy database grants Full Disk Access to the application, its background tool
/// and the Rundle background agent. False on an OS older than 10.14 and on any failure.
bool isFullDiskAccessSetup();

}  // namespace strandel::system
