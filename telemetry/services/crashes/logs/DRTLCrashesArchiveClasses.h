#pragma once
// Puts the crash logs and their records into the telemetry archive registry,
// so the log store can read them back. Safe to call any number of times.

namespace telemetry::crashes {

void registerCrashesArchiveClasses();

}  // namespace telemetry::crashes
