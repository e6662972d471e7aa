// Stored telemetry logs and texts read back from disk or the network: keyed
// archives, ISO 8601 dates, JSON bodies and the server's retry delay must
// never crash, and whatever unarchives must archive again.

#include <cstdint>
#include <cstdlib>
#include <string>

#include "telemetry/core/DRTLAbstractLog.h"
#include "telemetry/core/DRTLUtility.h"
#include "telemetry/core/Ingestion/DRTLHttpClient.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  using telemetry::core::DRTLUtility;
  if (auto object = DRTLUtility::unarchiveKeyedData(text)) {
    if (!DRTLUtility::archiveKeyedData(object.get())) std::abort();
    if (auto log = std::dynamic_pointer_cast<telemetry::core::DRTLAbstractLog>(object)) {
      (void)log->serializeLogWithPrettyPrinting(true);
      (void)log->isValid();
    }
  }
  if (auto date = DRTLUtility::dateFromISO8601(text)) {
    if (DRTLUtility::dateToISO8601(*date) != text) std::abort();
  }
  (void)DRTLUtility::prettyPrintJson(text);
  if (auto delay = telemetry::core::parseRetryAfterMs(text); delay && *delay > telemetry::core::kDRTLMaxRetryAfterMs) {
    std::abort();
  }
  return 0;
}
