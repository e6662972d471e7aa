#include "crashreporter/Source/DCRCrashReporterError.h"

#include "platform/Bundle.h"

namespace crashreporter {

platform::Error crashReporterError(DCRCrashReporterErrorCode code, std::string_view message, MessageText text,
                                   platform::Dictionary userInfo) {
  std::string description =
      text == MessageText::Localized ? platform::Bundle::main()->localizedStringForKey(message) : std::string(message);
  return platform::Error(kDCRCrashReporterErrorDomain, code, std::move(description), std::move(userInfo));
}

}  // namespace crashreporter
