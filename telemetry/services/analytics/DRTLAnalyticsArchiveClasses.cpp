#include "telemetry/services/analytics/DRTLAnalyticsArchiveClasses.h"

#include <mutex>

#include "telemetry/core/DRTLArchiveClasses.h"
#include "telemetry/core/DRTLUtility.h"
#include "telemetry/services/analytics/DRTLEventLog.h"

namespace telemetry::analytics {

void registerAnalyticsArchiveClasses() {
  static std::once_flag once;
  std::call_once(once, [] {
    platform::KeyedArchiveRegistry& registry = core::DRTLUtility::archiveRegistry();
    registry.registerClass("DRTLEventProperties", core::decoderOf<DRTLEventProperties>());
    registry.registerClass("DRTLLogWithNameAndProperties", core::decoderOf<DRTLLogWithNameAndProperties>());
    registry.registerClass("DRTLPageLog", core::decoderOf<DRTLPageLog>());
    registry.registerClass("DRTLStartSessionLog", core::decoderOf<DRTLStartSessionLog>());
    registry.registerClass("DRTLEventLog", core::decoderOf<DRTLEventLog>());
  });
}

}  // namespace telemetry::analytics
