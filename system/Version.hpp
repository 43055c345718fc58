// The running OS version, produced once by the version tool and kept for good in the host
// application's settings, and the comparison that gates the other subsystems.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <strandel/PlistValue.hpp>

namespace strandel::system {

/// The running OS version text (the version tool's first line), stored under "ZVCurrentSWVers".
/// Nothing when the version tool can't be started.
std::optional<std::string> currentVersion();

/// The version tool's report as label-to-value texts, stored under "ZVCurrentSWVersDict" and
/// logged once when made. Empty (and not stored) when the version tool can't be started.
PlistDict currentVersionDictionary();

/// -1, 0 or 1 as the running OS version orders before, equal to or after `version`. 0 when
/// `version` is absent or "", or the running version is unknown.
std::int64_t compareCurrentVersionWith(std::optional<std::string_view> version);

}  // namespace strandel::system
