#include "telemetry/core/DRTLSharedSchemaLog.h"

#include "telemetry/core/DRTLArchiveValues.h"
#include "telemetry/core/DRTLUtility.h"

namespace telemetry::core {

DRTLJSON DRTLSharedSchemaLog::serializeToDictionary() const {
  DRTLOrderedDictionary dictionary;
  if (ver) dictionary.setObject(*ver, "ver");
  if (name) dictionary.setObject(*name, "name");
  if (timestamp) dictionary.setObject(DRTLUtility::dateToISO8601(*timestamp), "time");
  if (iKey) dictionary.setObject(*iKey, "iKey");
  if (flags != 0) dictionary.setObject(flags, "flags");
  if (ext) dictionary.setObject(ext->serializeToDictionary(), "ext");
  if (data) {
    if (std::optional<DRTLOrderedDictionary> part = data->serializeToDictionary()) dictionary.setObject(part->json(), "data");
  }
  return dictionary.json();
}

bool DRTLSharedSchemaLog::isValid() const {
  const char* missing = !timestamp ? "timestamp" : !ver ? "ver" : !name ? "name" : nullptr;
  if (!missing) return true;
  logInvalidProperty(className(), missing);
  return false;
}

bool DRTLSharedSchemaLog::isEqual(const DRTLAbstractLog* other) const {
  const auto* same = dynamic_cast<const DRTLSharedSchemaLog*>(other);
  if (!same || !DRTLAbstractLog::isEqual(other)) return false;
  const bool extEqual = (!ext && !same->ext) || (ext && ext->isEqual(same->ext.get()));
  const bool dataEqual = (!data && !same->data) || (data && data->isEqual(same->data.get()));
  return ver == same->ver && name == same->name && popSample == same->popSample && iKey == same->iKey &&
         flags == same->flags && cV == same->cV && extEqual && dataEqual;
}

void DRTLSharedSchemaLog::encode(platform::KeyedArchiveEncoder& encoder) const {
  DRTLAbstractLog::encode(encoder);
  encodeString(encoder, "ver", ver);
  encodeString(encoder, "name", name);
  encoder.encodeValue("popSample", platform::Value(popSample));
  encodeString(encoder, "iKey", iKey);
  encoder.encodeValue("flags", platform::Value(flags));
  encodeString(encoder, "cV", cV);
  encoder.encodeObject("ext", ext);
  encoder.encodeObject("data", data);
}

void DRTLSharedSchemaLog::decode(const platform::KeyedArchiveDecoder& decoder) {
  DRTLAbstractLog::decode(decoder);
  ver = decodeString(decoder, "ver");
  name = decodeString(decoder, "name");
  popSample = decoder.value("popSample").realOr(0);
  iKey = decodeString(decoder, "iKey");
  flags = decodeInteger(decoder, "flags").value_or(0);
  cV = decodeString(decoder, "cV");
  ext.reset();
  data.reset();
  if (decoder.contains("ext")) {
    if (auto decoded = decoder.decodeObjectAs<DRTLCSExtensions>("ext"); decoded.ok()) ext = std::move(*decoded);
  }
  if (decoder.contains("data")) {
    if (auto decoded = decoder.decodeObjectAs<DRTLCSData>("data"); decoded.ok()) data = std::move(*decoded);
  }
}

}  // namespace telemetry::core
