#include "telemetry/services/crashes/logs/DRTLCrashesArchiveClasses.h"

#include <mutex>

#include "telemetry/core/DRTLArchiveClasses.h"
#include "telemetry/core/DRTLUtility.h"
#include "telemetry/services/crashes/logs/DRTLAppleErrorLog.h"
#include "telemetry/services/crashes/logs/DRTLErrorAttachmentLog.h"
#include "telemetry/services/crashes/logs/DRTLHandledErrorLog.h"
#include "telemetry/services/crashes/exceptions/DRTLWrapperException.h"

namespace telemetry::crashes {

void registerCrashesArchiveClasses() {
  static std::once_flag once;
  std::call_once(once, [] {
    platform::KeyedArchiveRegistry& registry = core::DRTLUtility::archiveRegistry();
    registry.registerClass("DRTLStackFrame", core::decoderOf<DRTLStackFrame>());
    registry.registerClass("DRTLException", core::decoderOf<DRTLException>());
    registry.registerClass("DRTLThread", core::decoderOf<DRTLThread>());
    registry.registerClass("DRTLBinary", core::decoderOf<DRTLBinary>());
    registry.registerClass("DRTLAbstractErrorLog", core::decoderOf<DRTLAbstractErrorLog>());
    registry.registerClass("DRTLAppleErrorLog", core::decoderOf<DRTLAppleErrorLog>());
    registry.registerClass("DRTLHandledErrorLog", core::decoderOf<DRTLHandledErrorLog>());
    registry.registerClass("DRTLErrorAttachmentLog", core::decoderOf<DRTLErrorAttachmentLog>());
    registry.registerClass("DRTLWrapperException", core::decoderOf<DRTLWrapperException>());
  });
}

}  // namespace telemetry::crashes
