#include "telemetry/services/crashes/logs/DRTLCrashDetails.h"

#include "telemetry/core/DRTLArchiveValues.h"
#include "telemetry/services/crashes/logs/DRTLRecordSupport.h"

namespace telemetry::crashes {

using core::decodeInteger;
using core::decodeString;
using core::encodeInteger;
using core::encodeString;

// Stack frame

DRTLJSON DRTLStackFrame::serializeToDictionary() const {
  DRTLJSON dictionary = DRTLJSON::object();
  putIfSet(dictionary, "address", address);
  putIfSet(dictionary, "code", code);
  putIfSet(dictionary, "className", declaringClassName);
  putIfSet(dictionary, "methodName", methodName);
  putIfSet(dictionary, "lineNumber", lineNumber);
  putIfSet(dictionary, "fileName", fileName);
  return dictionary;
}

bool DRTLStackFrame::isEqual(const DRTLStackFrame* other) const {
  return other && address == other->address && code == other->code &&
         declaringClassName == other->declaringClassName && methodName == other->methodName &&
         lineNumber == other->lineNumber && fileName == other->fileName;
}

void DRTLStackFrame::encode(platform::KeyedArchiveEncoder& encoder) const {
  encodeString(encoder, "address", address);
  encodeString(encoder, "code", code);
  encodeString(encoder, "className", declaringClassName);
  encodeString(encoder, "methodName", methodName);
  encodeInteger(encoder, "lineNumber", lineNumber);
  encodeString(encoder, "fileName", fileName);
}

void DRTLStackFrame::decode(const platform::KeyedArchiveDecoder& decoder) {
  address = decodeString(decoder, "address");
  code = decodeString(decoder, "code");
  declaringClassName = decodeString(decoder, "className");
  methodName = decodeString(decoder, "methodName");
  lineNumber = decodeInteger(decoder, "lineNumber");
  fileName = decodeString(decoder, "fileName");
}

// Exception

DRTLJSON DRTLException::serializeToDictionary() const {
  DRTLJSON dictionary = DRTLJSON::object();
  putIfSet(dictionary, "type", type);
  putIfSet(dictionary, "message", message);
  putIfSet(dictionary, "stackTrace", stackTrace);
  putIfSet(dictionary, "wrapperSdkName", wrapperSdkName);
  if (frames) dictionary["frames"] = serializeRecords(*frames);
  if (innerExceptions) dictionary["innerExceptions"] = serializeRecords(*innerExceptions);
  return dictionary;
}

bool DRTLException::isValid() const {
  const char* missing = !type ? "type" : (!frames || frames->empty()) ? "frames" : nullptr;
  if (!missing) return true;
  core::logInvalidProperty(className(), missing);
  return false;
}

bool DRTLException::isEqual(const DRTLException* other) const {
  return other && type == other->type && wrapperSdkName == other->wrapperSdkName && message == other->message &&
         sameRecords(frames, other->frames) && sameRecords(innerExceptions, other->innerExceptions) &&
         stackTrace == other->stackTrace;
}

void DRTLException::encode(platform::KeyedArchiveEncoder& encoder) const {
  encodeString(encoder, "type", type);
  encodeString(encoder, "message", message);
  encodeString(encoder, "stackTrace", stackTrace);
  encodeRecords(encoder, "frames", frames);
  encodeRecords(encoder, "innerExceptions", innerExceptions);
  encodeString(encoder, "wrapperSdkName", wrapperSdkName);
}

void DRTLException::decode(const platform::KeyedArchiveDecoder& decoder) {
  type = decodeString(decoder, "type");
  message = decodeString(decoder, "message");
  stackTrace = decodeString(decoder, "stackTrace");
  frames = decodeRecords<DRTLStackFrame>(decoder, "frames");
  innerExceptions = decodeRecords<DRTLException>(decoder, "innerExceptions");
  wrapperSdkName = decodeString(decoder, "wrapperSdkName");
}

// Thread

DRTLJSON DRTLThread::serializeToDictionary() const {
  DRTLJSON dictionary = DRTLJSON::object();
  putIfSet(dictionary, "id", threadId);
  putIfSet(dictionary, "name", name);
  if (frames) dictionary["frames"] = serializeRecords(*frames);
  if (exception) dictionary["exception"] = exception->serializeToDictionary();
  return dictionary;
}

bool DRTLThread::isValid() const {
  const char* missing = !threadId ? "threadId" : (!frames || frames->empty()) ? "frames" : nullptr;
  if (!missing) return true;
  core::logInvalidProperty(className(), missing);
  return false;
}

bool DRTLThread::isEqual(const DRTLThread* other) const {
  return other && threadId == other->threadId && name == other->name && sameRecords(frames, other->frames) &&
         sameRecord(exception, other->exception);
}

void DRTLThread::encode(platform::KeyedArchiveEncoder& encoder) const {
  encodeInteger(encoder, "id", threadId);
  encodeString(encoder, "name", name);
  encodeRecords(encoder, "frames", frames);
  if (exception) encoder.encodeObject("exception", exception);
}

void DRTLThread::decode(const platform::KeyedArchiveDecoder& decoder) {
  threadId = decodeInteger(decoder, "id");
  name = decodeString(decoder, "name");
  frames = decodeRecords<DRTLStackFrame>(decoder, "frames");
  exception = decodeRecord<DRTLException>(decoder, "exception");
}

// Binary

DRTLJSON DRTLBinary::serializeToDictionary() const {
  DRTLJSON dictionary = DRTLJSON::object();
  putIfSet(dictionary, "id", binaryId);
  putIfSet(dictionary, "startAddress", startAddress);
  putIfSet(dictionary, "endAddress", endAddress);
  putIfSet(dictionary, "name", name);
  putIfSet(dictionary, "path", path);
  putIfSet(dictionary, "architecture", architecture);
  putIfSet(dictionary, "primaryArchitectureId", primaryArchitectureId);
  putIfSet(dictionary, "architectureVariantId", architectureVariantId);
  return dictionary;
}

bool DRTLBinary::isValid() const {
  const char* missing = !binaryId       ? "binaryId"
                        : !startAddress ? "startAddress"
                        : !endAddress   ? "endAddress"
                        : !name         ? "name"
                        : !path         ? "path"
                                        : nullptr;
  if (!missing) return true;
  core::logInvalidProperty(className(), missing);
  return false;
}

bool DRTLBinary::isEqual(const DRTLBinary* other) const {
  return other && binaryId == other->binaryId && startAddress == other->startAddress &&
         endAddress == other->endAddress && name == other->name && path == other->path &&
         architecture == other->architecture && primaryArchitectureId == other->primaryArchitectureId &&
         architectureVariantId == other->architectureVariantId;
}

void DRTLBinary::encode(platform::KeyedArchiveEncoder& encoder) const {
  encodeString(encoder, "id", binaryId);
  encodeString(encoder, "startAddress", startAddress);
  encodeString(encoder, "endAddress", endAddress);
  encodeString(encoder, "name", name);
  encodeString(encoder, "path", path);
  encodeString(encoder, "architecture", architecture);
  encodeUnsigned(encoder, "primaryArchitectureId", primaryArchitectureId);
  encodeUnsigned(encoder, "architectureVariantId", architectureVariantId);
}

void DRTLBinary::decode(const platform::KeyedArchiveDecoder& decoder) {
  binaryId = decodeString(decoder, "id");
  startAddress = decodeString(decoder, "startAddress");
  endAddress = decodeString(decoder, "endAddress");
  name = decodeString(decoder, "name");
  path = decodeString(decoder, "path");
  architecture = decodeString(decoder, "architecture");
  primaryArchitectureId = decodeUnsigned(decoder, "primaryArchitectureId");
  architectureVariantId = decodeUnsigned(decoder, "architectureVariantId");
}

}  // namespace telemetry::crashes
