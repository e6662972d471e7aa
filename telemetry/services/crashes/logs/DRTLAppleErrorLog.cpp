#include "telemetry/services/crashes/logs/DRTLAppleErrorLog.h"

#include "telemetry/core/DRTLArchiveValues.h"
#include "telemetry/services/crashes/logs/DRTLRecordSupport.h"

namespace telemetry::crashes {

DRTLJSON DRTLAppleErrorLog::serializeToDictionary() const {
  DRTLJSON dictionary = DRTLAbstractErrorLog::serializeToDictionary();
  putIfSet(dictionary, "primaryArchitectureId", primaryArchitectureId);
  putIfSet(dictionary, "architectureVariantId", architectureVariantId);
  putIfSet(dictionary, "applicationPath", applicationPath);
  putIfSet(dictionary, "osExceptionType", osExceptionType);
  putIfSet(dictionary, "osExceptionCode", osExceptionCode);
  putIfSet(dictionary, "osExceptionAddress", osExceptionAddress);
  putIfSet(dictionary, "exceptionType", exceptionType);
  putIfSet(dictionary, "exceptionReason", exceptionReason);
  putIfSet(dictionary, "selectorRegisterValue", selectorRegisterValue);
  if (threads) dictionary["threads"] = serializeRecords(*threads);
  if (binaries) dictionary["binaries"] = serializeRecords(*binaries);
  if (registers) {
    DRTLJSON object = DRTLJSON::object();
    for (const auto& [name, value] : *registers) object[name] = value;
    dictionary["registers"] = std::move(object);
  }
  if (exception) dictionary["exception"] = exception->serializeToDictionary();
  return dictionary;
}

bool DRTLAppleErrorLog::isValid() const {
  if (!DRTLAbstractErrorLog::isValid()) return false;
  const char* missing = !primaryArchitectureId ? "primaryArchitectureId"
                        : !applicationPath     ? "applicationPath"
                        : !osExceptionType     ? "osExceptionType"
                        : !osExceptionCode     ? "osExceptionCode"
                        : !osExceptionAddress  ? "osExceptionAddress"
                                               : nullptr;
  if (!missing) return true;
  core::logInvalidProperty(className(), missing);
  return false;
}

bool DRTLAppleErrorLog::isEqual(const core::DRTLAbstractLog* other) const {
  const auto* same = dynamic_cast<const DRTLAppleErrorLog*>(other);
  return same && DRTLAbstractErrorLog::isEqual(other) && primaryArchitectureId == same->primaryArchitectureId &&
         architectureVariantId == same->architectureVariantId && applicationPath == same->applicationPath &&
         osExceptionType == same->osExceptionType && osExceptionCode == same->osExceptionCode &&
         osExceptionAddress == same->osExceptionAddress && exceptionType == same->exceptionType &&
         exceptionReason == same->exceptionReason && selectorRegisterValue == same->selectorRegisterValue &&
         sameRecords(threads, same->threads) && sameRecords(binaries, same->binaries) &&
         registers == same->registers && sameRecord(exception, same->exception);
}

void DRTLAppleErrorLog::encode(platform::KeyedArchiveEncoder& encoder) const {
  DRTLAbstractErrorLog::encode(encoder);
  encodeUnsigned(encoder, "primaryArchitectureId", primaryArchitectureId);
  encodeUnsigned(encoder, "architectureVariantId", architectureVariantId);
  core::encodeString(encoder, "applicationPath", applicationPath);
  core::encodeString(encoder, "osExceptionType", osExceptionType);
  core::encodeString(encoder, "osExceptionCode", osExceptionCode);
  core::encodeString(encoder, "osExceptionAddress", osExceptionAddress);
  core::encodeString(encoder, "exceptionType", exceptionType);
  core::encodeString(encoder, "exceptionReason", exceptionReason);
  core::encodeString(encoder, "selectorRegisterValue", selectorRegisterValue);
  encodeRecords(encoder, "threads", threads);
  encodeRecords(encoder, "binaries", binaries);
  if (registers) {
    platform::Dictionary dictionary;
    for (const auto& [name, value] : *registers) dictionary[name] = platform::Value(value);
    encoder.encodeValue("registers", platform::Value(std::move(dictionary)));
  }
  if (exception) encoder.encodeObject("exception", exception);
}

void DRTLAppleErrorLog::decode(const platform::KeyedArchiveDecoder& decoder) {
  DRTLAbstractErrorLog::decode(decoder);
  primaryArchitectureId = decodeUnsigned(decoder, "primaryArchitectureId");
  architectureVariantId = decodeUnsigned(decoder, "architectureVariantId");
  applicationPath = core::decodeString(decoder, "applicationPath");
  osExceptionType = core::decodeString(decoder, "osExceptionType");
  osExceptionCode = core::decodeString(decoder, "osExceptionCode");
  osExceptionAddress = core::decodeString(decoder, "osExceptionAddress");
  exceptionType = core::decodeString(decoder, "exceptionType");
  exceptionReason = core::decodeString(decoder, "exceptionReason");
  selectorRegisterValue = core::decodeString(decoder, "selectorRegisterValue");
  threads = decodeRecords<DRTLThread>(decoder, "threads");
  binaries = decodeRecords<DRTLBinary>(decoder, "binaries");
  registers.reset();
  if (const platform::Dictionary* dictionary = decoder.value("registers").dictionary()) {
    registers.emplace();
    for (const auto& [name, value] : *dictionary) {
      if (value.isString()) (*registers)[name] = *value.string();
    }
  }
  exception = decodeRecord<DRTLException>(decoder, "exception");
}

}  // namespace telemetry::crashes
