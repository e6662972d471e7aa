#include "telemetry/services/crashes/logs/DRTLHandledErrorLog.h"

#include "telemetry/core/DRTLArchiveValues.h"
#include "telemetry/services/crashes/logs/DRTLRecordSupport.h"

namespace telemetry::crashes {

DRTLJSON DRTLHandledErrorLog::serializeToDictionary() const {
  DRTLJSON dictionary = DRTLLogWithProperties::serializeToDictionary();
  putIfSet(dictionary, "id", errorId);
  if (exception) dictionary["exception"] = exception->serializeToDictionary();
  return dictionary;
}

bool DRTLHandledErrorLog::isValid() const {
  if (!DRTLLogWithProperties::isValid()) return false;
  const char* missing = !errorId ? "errorId" : !exception ? "exception" : nullptr;
  if (!missing) return true;
  core::logInvalidProperty(className(), missing);
  return false;
}

bool DRTLHandledErrorLog::isEqual(const core::DRTLAbstractLog* other) const {
  const auto* same = dynamic_cast<const DRTLHandledErrorLog*>(other);
  return same && DRTLLogWithProperties::isEqual(other) && errorId == same->errorId &&
         sameRecord(exception, same->exception);
}

void DRTLHandledErrorLog::encode(platform::KeyedArchiveEncoder& encoder) const {
  DRTLLogWithProperties::encode(encoder);
  core::encodeString(encoder, "id", errorId);
  if (exception) encoder.encodeObject("exception", exception);
}

void DRTLHandledErrorLog::decode(const platform::KeyedArchiveDecoder& decoder) {
  DRTLLogWithProperties::decode(decoder);
  errorId = core::decodeString(decoder, "id");
  exception = decodeRecord<DRTLException>(decoder, "exception");
}

}  // namespace telemetry::crashes
