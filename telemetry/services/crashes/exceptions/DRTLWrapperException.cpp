#include "telemetry/services/crashes/exceptions/DRTLWrapperException.h"

#include "telemetry/services/crashes/logs/DRTLRecordSupport.h"

namespace telemetry::crashes {

core::DRTLJSON DRTLWrapperException::serializeToDictionary() const {
  core::DRTLJSON dictionary = core::DRTLJSON::object();
  if (modelException) dictionary["modelException"] = modelException->serializeToDictionary();
  if (processId) dictionary["processId"] = *processId;
  if (exceptionData) dictionary["exceptionData"] = *exceptionData;
  return dictionary;
}

void DRTLWrapperException::encode(platform::KeyedArchiveEncoder& encoder) const {
  if (modelException) encoder.encodeObject("modelException", modelException);
  if (exceptionData) encoder.encodeValue("exceptionData", platform::Value(*exceptionData));
  encodeUnsigned(encoder, "processId", processId);
}

void DRTLWrapperException::decode(const platform::KeyedArchiveDecoder& decoder) {
  modelException = decodeRecord<DRTLException>(decoder, "modelException");
  if (const platform::Data* data = decoder.value("exceptionData").data()) exceptionData = *data;
  processId = decodeUnsigned(decoder, "processId");
}

}  // namespace telemetry::crashes
