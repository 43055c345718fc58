// The portable services of the live host, each made on its own so that tests can reach them
// directly.
#pragma once

#include <memory>
#include <string>

#include "platform/Machine.hpp"

namespace strandel::platform::live {

/// The account name of the process's user: its account entry, else $USER or $LOGNAME, else the
/// uid's digits (a container user may have no entry at all).
std::string hostUserName();

/// The host's files and the current user.
std::unique_ptr<Files> makeLiveFiles();

/// The settings store of the host application: the file chosen for the process
/// (useSettingsFile, STRANDEL_SETTINGS) or the default one, looked up again on every call so a
/// later choice takes effect; kept in memory when no file can be named at all.
std::unique_ptr<Settings> makeLiveSettings();

}  // namespace strandel::platform::live
