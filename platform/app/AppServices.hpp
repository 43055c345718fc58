// The services that belong to the host application rather than to the machine: its settings
// store, its translation tables and the log. Both backends use these.
#pragma once

#include <memory>
#include <string>

#include "platform/Machine.hpp"

namespace strandel::platform {

/// A settings store kept in the property-list file at `path`: every write is a
/// read-modify-write under an exclusive lock, replacing the file atomically.
std::shared_ptr<Settings> makeFileSettings(std::string path);

/// A settings store kept in memory for the life of the machine.
std::shared_ptr<Settings> makeMemorySettings();

/// The settings file that the process was told to use (useSettingsFile, else
/// STRANDEL_SETTINGS); "" when none.
std::string chosenSettingsFile();

/// The live host's default settings file: $XDG_CONFIG_HOME (or ~/.config)/strandel/NAME.plist,
/// NAME being the host program's name.
std::string defaultSettingsFile();

/// A localizer that reads the `.strings` tables of the bundle folder chosen for the process
/// (useBundle, else STRANDEL_BUNDLE) at the time of each lookup.
std::shared_ptr<Localizer> makeBundleLocalizer();

/// The log: one line on standard error with the time, the process name and id, the message.
std::shared_ptr<Log> makeStderrLog();

}  // namespace strandel::platform
