#include "telemetry/core/DRTLArchiveClasses.h"

#include "telemetry/core/DRTLAbstractLog.h"
#include "telemetry/core/DRTLDevice.h"

namespace telemetry::core {

void registerCoreArchiveClasses(platform::KeyedArchiveRegistry& registry) {
  registry.registerClass("DRTLWrapperSdk", decoderOf<DRTLWrapperSdk>());
  registry.registerClass("DRTLDevice", decoderOf<DRTLDevice>());
  registry.registerClass("DRTLAbstractLog", decoderOf<DRTLAbstractLog>());
}

}  // namespace telemetry::core
