#pragma once
// Writes a read report back out with the crash-time field encoder, in the
// writer's field order and with its two-pass lengths, so tests can compare the
// encoder's bytes with what protoc makes of the same report.

#include "CrashReportFixtures.h"
#include "crashreporter/Source/DCRCrashReport.h"

namespace crash_test {

// The message bytes (no header).
Bytes encodeReport(const crashreporter::DCRCrashReport& report);

}  // namespace crash_test
