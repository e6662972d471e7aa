#include "telemetry/core/DRTLArchiveClasses.h"

#include "telemetry/core/DRTLAbstractLog.h"
#include "telemetry/core/DRTLCSExtensions.h"
#include "telemetry/core/DRTLDevice.h"
#include "telemetry/core/DRTLHistoryInfo.h"
#include "telemetry/core/DRTLLogWithProperties.h"
#include "telemetry/core/DRTLSharedSchemaLog.h"
#include "telemetry/core/DRTLTypedProperty.h"
#include "telemetry/core/Services/DRTLStartServiceLog.h"

namespace telemetry::core {

void registerCoreArchiveClasses(platform::KeyedArchiveRegistry& registry) {
  registry.registerClass("DRTLWrapperSdk", decoderOf<DRTLWrapperSdk>());
  registry.registerClass("DRTLDevice", decoderOf<DRTLDevice>());
  registry.registerClass("DRTLAbstractLog", decoderOf<DRTLAbstractLog>());
  registry.registerClass("DRTLLogWithProperties", decoderOf<DRTLLogWithProperties>());
  registry.registerClass("DRTLCustomPropertiesLog", decoderOf<DRTLCustomPropertiesLog>());
  registry.registerClass("DRTLStartServiceLog", decoderOf<DRTLStartServiceLog>());
  registry.registerClass("DRTLSharedSchemaLog", decoderOf<DRTLSharedSchemaLog>());
  registry.registerClass("DRTLCSExtensions", decoderOf<DRTLCSExtensions>());
  registry.registerClass("DRTLCSData", decoderOf<DRTLCSData>());
  registry.registerClass("DRTLMetadataExtension", decoderOf<DRTLMetadataExtension>());
  registry.registerClass("DRTLProtocolExtension", decoderOf<DRTLProtocolExtension>());
  registry.registerClass("DRTLUserExtension", decoderOf<DRTLUserExtension>());
  registry.registerClass("DRTLDeviceExtension", decoderOf<DRTLDeviceExtension>());
  registry.registerClass("DRTLOSExtension", decoderOf<DRTLOSExtension>());
  registry.registerClass("DRTLAppExtension", decoderOf<DRTLAppExtension>());
  registry.registerClass("DRTLNetExtension", decoderOf<DRTLNetExtension>());
  registry.registerClass("DRTLSDKExtension", decoderOf<DRTLSDKExtension>());
  registry.registerClass("DRTLLocExtension", decoderOf<DRTLLocExtension>());
  registry.registerClass("DRTLStringTypedProperty", decoderOf<DRTLStringTypedProperty>());
  registry.registerClass("DRTLBooleanTypedProperty", decoderOf<DRTLBooleanTypedProperty>());
  registry.registerClass("DRTLDateTimeTypedProperty", decoderOf<DRTLDateTimeTypedProperty>());
  registry.registerClass("DRTLLongTypedProperty", decoderOf<DRTLLongTypedProperty>());
  registry.registerClass("DRTLDoubleTypedProperty", decoderOf<DRTLDoubleTypedProperty>());
  registry.registerClass("DRTLHistoryInfo", decoderOf<DRTLHistoryInfo>());
  registry.registerClass("DRTLSessionHistoryInfo", decoderOf<DRTLSessionHistoryInfo>());
  registry.registerClass("DRTLUserIdHistoryInfo", decoderOf<DRTLUserIdHistoryInfo>());
  registry.registerClass("DRTLDeviceHistoryInfo", decoderOf<DRTLDeviceHistoryInfo>());
  // An array whose element does not decode is refused whole.
  registry.registerClass("NSArray", [](const platform::KeyedArchiveDecoder& decoder)
                                        -> platform::Result<std::shared_ptr<platform::Archivable>> {
    auto array = std::make_shared<DRTLArchivedArray>();
    if (decoder.contains("root")) {
      auto elements = decoder.decodeObjects("root");
      if (!elements.ok()) return elements.error();
      array->elements = std::move(*elements);
    }
    return std::shared_ptr<platform::Archivable>(std::move(array));
  });
}

}  // namespace telemetry::core
