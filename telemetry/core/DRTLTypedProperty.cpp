#include "telemetry/core/DRTLTypedProperty.h"

#include "telemetry/core/DRTLArchiveValues.h"
#include "telemetry/core/DRTLUtility.h"

namespace telemetry::core {
namespace {

// The other property when it is of exactly the class T.
template <typename T>
const T* sameClass(const DRTLTypedProperty* other) {
  return other && typeid(*other) == typeid(T) ? static_cast<const T*>(other) : nullptr;
}

}  // namespace

DRTLJSON DRTLTypedProperty::serializeToDictionary() const {
  DRTLJSON dictionary = DRTLJSON::object();
  if (type) dictionary["type"] = *type;
  if (name) dictionary["name"] = *name;
  return dictionary;
}

bool DRTLTypedProperty::isEqual(const DRTLTypedProperty* other) const { return other && type == other->type; }

void DRTLTypedProperty::encode(platform::KeyedArchiveEncoder& encoder) const {
  encodeString(encoder, "type", type);
  encodeString(encoder, "name", name);
}

void DRTLTypedProperty::decode(const platform::KeyedArchiveDecoder& decoder) {
  type = decodeString(decoder, "type");
  name = decodeString(decoder, "name");
}

DRTLJSON DRTLStringTypedProperty::serializeToDictionary() const {
  DRTLJSON dictionary = DRTLTypedProperty::serializeToDictionary();
  if (value) dictionary["value"] = *value;
  return dictionary;
}
bool DRTLStringTypedProperty::isEqual(const DRTLTypedProperty* other) const {
  const auto* same = sameClass<DRTLStringTypedProperty>(other);
  return same && DRTLTypedProperty::isEqual(other) && value == same->value;
}
void DRTLStringTypedProperty::encode(platform::KeyedArchiveEncoder& encoder) const {
  DRTLTypedProperty::encode(encoder);
  encodeString(encoder, "value", value);
}
void DRTLStringTypedProperty::decode(const platform::KeyedArchiveDecoder& decoder) {
  DRTLTypedProperty::decode(decoder);
  value = decodeString(decoder, "value");
}

DRTLJSON DRTLBooleanTypedProperty::serializeToDictionary() const {
  DRTLJSON dictionary = DRTLTypedProperty::serializeToDictionary();
  dictionary["value"] = value;
  return dictionary;
}
bool DRTLBooleanTypedProperty::isEqual(const DRTLTypedProperty* other) const {
  const auto* same = sameClass<DRTLBooleanTypedProperty>(other);
  return same && DRTLTypedProperty::isEqual(other) && value == same->value;
}
void DRTLBooleanTypedProperty::encode(platform::KeyedArchiveEncoder& encoder) const {
  DRTLTypedProperty::encode(encoder);
  encoder.encodeValue("value", platform::Value(value));
}
void DRTLBooleanTypedProperty::decode(const platform::KeyedArchiveDecoder& decoder) {
  DRTLTypedProperty::decode(decoder);
  value = decoder.value("value").booleanOr(false);
}

DRTLJSON DRTLDateTimeTypedProperty::serializeToDictionary() const {
  DRTLJSON dictionary = DRTLTypedProperty::serializeToDictionary();
  if (value) dictionary["value"] = DRTLUtility::dateToISO8601(*value);
  return dictionary;
}
bool DRTLDateTimeTypedProperty::isEqual(const DRTLTypedProperty* other) const {
  const auto* same = sameClass<DRTLDateTimeTypedProperty>(other);
  return same && DRTLTypedProperty::isEqual(other) && value == same->value;
}
void DRTLDateTimeTypedProperty::encode(platform::KeyedArchiveEncoder& encoder) const {
  DRTLTypedProperty::encode(encoder);
  encodeDate(encoder, "value", value);
}
void DRTLDateTimeTypedProperty::decode(const platform::KeyedArchiveDecoder& decoder) {
  DRTLTypedProperty::decode(decoder);
  value = decodeDate(decoder, "value");
}

DRTLJSON DRTLLongTypedProperty::serializeToDictionary() const {
  DRTLJSON dictionary = DRTLTypedProperty::serializeToDictionary();
  dictionary["value"] = value;
  return dictionary;
}
bool DRTLLongTypedProperty::isEqual(const DRTLTypedProperty* other) const {
  const auto* same = sameClass<DRTLLongTypedProperty>(other);
  return same && DRTLTypedProperty::isEqual(other) && value == same->value;
}
void DRTLLongTypedProperty::encode(platform::KeyedArchiveEncoder& encoder) const {
  DRTLTypedProperty::encode(encoder);
  encoder.encodeValue("value", platform::Value(value));
}
void DRTLLongTypedProperty::decode(const platform::KeyedArchiveDecoder& decoder) {
  DRTLTypedProperty::decode(decoder);
  value = decodeInteger(decoder, "value").value_or(0);
}

DRTLJSON DRTLDoubleTypedProperty::serializeToDictionary() const {
  DRTLJSON dictionary = DRTLTypedProperty::serializeToDictionary();
  dictionary["value"] = value;
  return dictionary;
}
bool DRTLDoubleTypedProperty::isEqual(const DRTLTypedProperty* other) const {
  const auto* same = sameClass<DRTLDoubleTypedProperty>(other);
  return same && DRTLTypedProperty::isEqual(other) && value == same->value;
}
void DRTLDoubleTypedProperty::encode(platform::KeyedArchiveEncoder& encoder) const {
  DRTLTypedProperty::encode(encoder);
  encoder.encodeValue("value", platform::Value(value));
}
void DRTLDoubleTypedProperty::decode(const platform::KeyedArchiveDecoder& decoder) {
  DRTLTypedProperty::decode(decoder);
  value = decoder.value("value").realOr(0);
}

}  // namespace telemetry::core
