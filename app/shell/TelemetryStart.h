#pragma once
// Telemetry at launch: the crash and analytics services start with the
// secret string of this installation's configuration, never one built into
// the program. The secret is the default "DirAradedIdentifier" (argument or
// persistent domain), else the environment variable "DIR_ARADED_IDENTIFIER";
// the log URL is the default "DirAradedLogUrl", else the telemetry client's
// own default. Without a secret nothing starts: nothing is sent, the
// telemetry folder is not touched, and crash files and logs of earlier runs
// wait for a configured run.
//
// Main thread, once, at the end of launching.

#include <optional>
#include <string>

#include "platform/UserDefaults.h"

namespace app {

inline constexpr const char* kDirAradedIdentifierKey = "DirAradedIdentifier";
inline constexpr const char* kDirAradedIdentifierEnvironmentVariable = "DIR_ARADED_IDENTIFIER";
inline constexpr const char* kDirAradedLogUrlKey = "DirAradedLogUrl";
inline constexpr const char* kTelemetryNotConfiguredMessage =
    "Telemetry is off: neither the DirAradedIdentifier default nor DIR_ARADED_IDENTIFIER is set";

// The secret string; none when neither source holds a non-empty text.
std::optional<std::string> dirAradedIdentifier(const platform::UserDefaults& defaults);

// Starts the telemetry client with the crash and analytics services; false,
// with one technical-log line, when no secret is configured.
bool startTelemetry(const platform::UserDefaults& defaults);

}  // namespace app
