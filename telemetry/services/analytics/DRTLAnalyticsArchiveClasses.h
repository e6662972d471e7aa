#pragma once
// Puts the analytics logs into the telemetry archive registry, so the log
// store can read them back. Safe to call any number of times.

namespace telemetry::analytics {

void registerAnalyticsArchiveClasses();

}  // namespace telemetry::analytics
