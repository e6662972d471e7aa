#pragma once
// Errors of the crash reporter: one domain, codes 0 to 3. Messages marked
// localized are looked up in the main bundle's string table with the English
// text as key and as fallback.

#include <string>
#include <string_view>

#include "platform/Error.h"

namespace crashreporter {

inline constexpr const char* kDCRCrashReporterErrorDomain = "DCRCrashReporterErrorDomain";

enum class DCRCrashReporterErrorCode {
  Unknown = 0,             // also a failed write
  OperatingSystem = 1,     // with the system's error as underlying error
  InvalidCrashReport = 2,
  ResourceBusy = 3,        // already enabled
};

enum class MessageText { Localized, AsIs };

platform::Error crashReporterError(DCRCrashReporterErrorCode code, std::string_view message, MessageText text,
                                   platform::Dictionary userInfo = {});

}  // namespace crashreporter
