// The process-wide choices: the machine that Strandel answers for (the live host, or a machine
// image), the host application's bundle folder and settings file, and where the log line goes.
//
// Threads: every function of the library may be called on any thread, and on several at once.
// The state that the whole process shares is what this header sets: the machine, the bundle
// folder, the settings file and the log sink; the OS version facts, cached for good in the
// settings once read; and one switch: the first volume list of the process puts the list of
// hidden system volumes (EFI, Preboot, Recovery, VM, ...) in force for good, and
// `volumesInAPFSContainer` leaves them out only from then on. Each choice here may be changed
// while other threads call in: a call under way keeps the machine it started with alive. Nothing
// else is shared: every result is a new value owned by the caller, and a `StrandelFramework` object
// holds only its progress text and delegate, each read and replaced atomically.
#pragma once

#include <strandel/Export.hpp>
#ifndef STRANDEL_LANGUAGE_TOO_OLD

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace strandel {

/// Makes the machine image in the folder `imageDir` the machine of the whole process.
/// Gives nothing on success, or the one line that says why the image can't be used (the
/// machine in use then stays as it was). Without a call, the first use of the library reads
/// the environment variable STRANDEL_MACHINE, and uses the live host when it is not set. A
/// STRANDEL_MACHINE that names a folder that is not a usable image is never taken for the live
/// host: the machine then answers nothing (no volumes, no mounts, no tool starts) and the log
/// gets one line saying why (the tool refuses such a folder with exit status 2).
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

/// Receives each message the library logs (the version report, once per process, when it is
/// first made).
using LogSink = std::function<void(std::string_view message)>;

/// Sends the library's log messages to `sink` instead of standard error, for the whole process.
/// The sink gets the message alone, without time stamp or program name, on the thread that
/// logs, possibly on several threads at once; an exception it throws is dropped. Replacing the
/// sink while a message is written is safe: that message goes to the sink it started with. An
/// empty function restores the default: one line on standard error with the local time, the
/// program name and process id, and the message.
STRANDEL_EXPORT void setLogSink(LogSink sink);

}  // namespace strandel

#endif  // STRANDEL_LANGUAGE_TOO_OLD
