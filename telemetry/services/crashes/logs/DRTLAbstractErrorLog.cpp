#include "telemetry/services/crashes/logs/DRTLAbstractErrorLog.h"

#include "telemetry/core/DRTLArchiveValues.h"
#include "telemetry/core/DRTLUtility.h"
#include "telemetry/services/crashes/logs/DRTLRecordSupport.h"

namespace telemetry::crashes {

DRTLJSON DRTLAbstractErrorLog::serializeToDictionary() const {
  DRTLJSON dictionary = DRTLLogWithProperties::serializeToDictionary();
  putIfSet(dictionary, "id", errorId);
  putIfSet(dictionary, "processId", processId);
  putIfSet(dictionary, "processName", processName);
  putIfSet(dictionary, "parentProcessId", parentProcessId);
  putIfSet(dictionary, "parentProcessName", parentProcessName);
  putIfSet(dictionary, "errorThreadId", errorThreadId);
  putIfSet(dictionary, "errorThreadName", errorThreadName);
  dictionary["fatal"] = fatal;
  if (appLaunchTimestamp) dictionary["appLaunchTimestamp"] = core::DRTLUtility::dateToISO8601(*appLaunchTimestamp);
  putIfSet(dictionary, "architecture", architecture);
  return dictionary;
}

bool DRTLAbstractErrorLog::isValid() const {
  if (!DRTLLogWithProperties::isValid()) return false;
  const char* missing = !errorId ? "errorId" : !processId ? "processId" : !processName ? "processName" : nullptr;
  if (!missing) return true;
  core::logInvalidProperty(className(), missing);
  return false;
}

bool DRTLAbstractErrorLog::isEqual(const core::DRTLAbstractLog* other) const {
  const auto* same = dynamic_cast<const DRTLAbstractErrorLog*>(other);
  return same && DRTLLogWithProperties::isEqual(other) && errorId == same->errorId && processId == same->processId &&
         processName == same->processName && parentProcessId == same->parentProcessId &&
         parentProcessName == same->parentProcessName && errorThreadId == same->errorThreadId &&
         errorThreadName == same->errorThreadName && fatal == same->fatal &&
         appLaunchTimestamp == same->appLaunchTimestamp && architecture == same->architecture;
}

void DRTLAbstractErrorLog::encode(platform::KeyedArchiveEncoder& encoder) const {
  DRTLLogWithProperties::encode(encoder);
  core::encodeString(encoder, "id", errorId);
  core::encodeInteger(encoder, "processId", processId);
  core::encodeString(encoder, "processName", processName);
  core::encodeInteger(encoder, "parentProcessId", parentProcessId);
  core::encodeString(encoder, "parentProcessName", parentProcessName);
  core::encodeInteger(encoder, "errorThreadId", errorThreadId);
  core::encodeString(encoder, "errorThreadName", errorThreadName);
  encoder.encodeValue("fatal", platform::Value(fatal));
  core::encodeDate(encoder, "appLaunchTimestamp", appLaunchTimestamp);
  core::encodeString(encoder, "architecture", architecture);
}

void DRTLAbstractErrorLog::decode(const platform::KeyedArchiveDecoder& decoder) {
  DRTLLogWithProperties::decode(decoder);
  errorId = core::decodeString(decoder, "id");
  processId = core::decodeInteger(decoder, "processId");
  processName = core::decodeString(decoder, "processName");
  parentProcessId = core::decodeInteger(decoder, "parentProcessId");
  parentProcessName = core::decodeString(decoder, "parentProcessName");
  errorThreadId = core::decodeInteger(decoder, "errorThreadId");
  errorThreadName = core::decodeString(decoder, "errorThreadName");
  fatal = decoder.value("fatal").booleanOr(false);
  appLaunchTimestamp = core::decodeDate(decoder, "appLaunchTimestamp");
  architecture = core::decodeString(decoder, "architecture");
}

}  // namespace telemetry::crashes
