#include "telemetry/core/DRTLHistoryInfo.h"

#include "telemetry/core/DRTLArchiveValues.h"

namespace telemetry::core {

void DRTLHistoryInfo::encode(platform::KeyedArchiveEncoder& encoder) const {
  encodeDate(encoder, "timestampKey", timestamp);
}
void DRTLHistoryInfo::decode(const platform::KeyedArchiveDecoder& decoder) {
  timestamp = decodeDate(decoder, "timestampKey");
}

void DRTLSessionHistoryInfo::encode(platform::KeyedArchiveEncoder& encoder) const {
  DRTLHistoryInfo::encode(encoder);
  encodeString(encoder, "sessionIdKey", sessionId);
}
void DRTLSessionHistoryInfo::decode(const platform::KeyedArchiveDecoder& decoder) {
  DRTLHistoryInfo::decode(decoder);
  sessionId = decodeString(decoder, "sessionIdKey");
}

void DRTLUserIdHistoryInfo::encode(platform::KeyedArchiveEncoder& encoder) const {
  DRTLHistoryInfo::encode(encoder);
  encodeString(encoder, "userIdKey", userId);
}
void DRTLUserIdHistoryInfo::decode(const platform::KeyedArchiveDecoder& decoder) {
  DRTLHistoryInfo::decode(decoder);
  userId = decodeString(decoder, "userIdKey");
}

void DRTLDeviceHistoryInfo::encode(platform::KeyedArchiveEncoder& encoder) const {
  DRTLHistoryInfo::encode(encoder);
  encoder.encodeObject("deviceKey", device);
}
void DRTLDeviceHistoryInfo::decode(const platform::KeyedArchiveDecoder& decoder) {
  DRTLHistoryInfo::decode(decoder);
  device.reset();
  if (decoder.contains("deviceKey")) {
    if (auto decoded = decoder.decodeObjectAs<DRTLDevice>("deviceKey"); decoded.ok()) device = std::move(*decoded);
  }
}

}  // namespace telemetry::core
