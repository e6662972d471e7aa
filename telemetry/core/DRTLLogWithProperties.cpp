#include "telemetry/core/DRTLLogWithProperties.h"

#include "telemetry/core/DRTLArchiveValues.h"
#include "telemetry/core/DRTLUtility.h"

namespace telemetry::core {

DRTLJSON DRTLLogWithProperties::serializeToDictionary() const {
  DRTLJSON dictionary = DRTLAbstractLog::serializeToDictionary();
  if (properties && !properties->empty()) {
    DRTLJSON object = DRTLJSON::object();
    object.get_ref<DRTLJSON::object_t&>().reserve(properties->size());
    for (const auto& [key, value] : *properties) appendNewKey(object, key, value);  // a map's keys are unique
    appendNewKey(dictionary, "properties", std::move(object));
  }
  return dictionary;
}

bool DRTLLogWithProperties::isEqual(const DRTLAbstractLog* other) const {
  const auto* same = dynamic_cast<const DRTLLogWithProperties*>(other);
  return same && DRTLAbstractLog::isEqual(other) && properties == same->properties;
}

void DRTLLogWithProperties::encode(platform::KeyedArchiveEncoder& encoder) const {
  DRTLAbstractLog::encode(encoder);
  if (!properties) return;
  platform::Dictionary dictionary;
  for (const auto& [key, value] : *properties) dictionary[key] = platform::Value(value);
  encoder.encodeValue("properties", platform::Value(std::move(dictionary)));
}

void DRTLLogWithProperties::decode(const platform::KeyedArchiveDecoder& decoder) {
  DRTLAbstractLog::decode(decoder);
  properties.reset();
  if (const platform::Dictionary* dictionary = decoder.value("properties").dictionary()) {
    properties.emplace();
    for (const auto& [key, value] : *dictionary) {
      if (value.isString()) (*properties)[key] = *value.string();
    }
  }
}

DRTLJSON DRTLCustomPropertiesLog::serializeProperty(const DRTLCustomPropertyValue& value) {
  DRTLJSON property = DRTLJSON::object();
  std::visit(
      [&](const auto& typed) {
        using T = std::decay_t<decltype(typed)>;
        if constexpr (std::is_same_v<T, DRTLCustomPropertyClear>) {
          property["type"] = "clear";
        } else if constexpr (std::is_same_v<T, bool>) {
          property["type"] = "boolean";
          property["value"] = typed;
        } else if constexpr (std::is_same_v<T, std::int64_t> || std::is_same_v<T, double>) {
          property["type"] = "number";
          property["value"] = typed;
        } else if constexpr (std::is_same_v<T, platform::Date>) {
          property["type"] = "dateTime";
          property["value"] = DRTLUtility::dateToISO8601(typed);
        } else {
          property["type"] = "string";
          property["value"] = typed;
        }
      },
      value);
  return property;
}

DRTLJSON DRTLCustomPropertiesLog::serializeToDictionary() const {
  DRTLJSON dictionary = DRTLAbstractLog::serializeToDictionary();
  if (properties) {
    DRTLJSON array = DRTLJSON::array();
    for (const auto& [key, value] : *properties) {
      DRTLJSON property = serializeProperty(value);
      property["name"] = key;
      array.push_back(std::move(property));
    }
    dictionary["properties"] = std::move(array);
  }
  return dictionary;
}

bool DRTLCustomPropertiesLog::isValid() const {
  if (!DRTLAbstractLog::isValid()) return false;
  if (properties && !properties->empty()) return true;
  logInvalidProperty(className(), "properties");
  return false;
}

bool DRTLCustomPropertiesLog::isEqual(const DRTLAbstractLog* other) const {
  const auto* same = dynamic_cast<const DRTLCustomPropertiesLog*>(other);
  return same && DRTLAbstractLog::isEqual(other) && properties == same->properties;
}

namespace {

// One value as {"type": …, "value": …}; dates as reals, like every archived date.
platform::Value archivedProperty(const DRTLCustomPropertyValue& value) {
  DRTLJSON serialized = DRTLCustomPropertiesLog::serializeProperty(value);
  platform::Dictionary entry{{"type", platform::Value(serialized["type"].get<std::string>())}};
  if (const auto* date = std::get_if<platform::Date>(&value)) {
    entry["value"] = platform::Value(secondsSince1970(*date));
  } else if (const auto* text = std::get_if<std::string>(&value)) {
    entry["value"] = platform::Value(*text);
  } else if (const auto* flag = std::get_if<bool>(&value)) {
    entry["value"] = platform::Value(*flag);
  } else if (const auto* integer = std::get_if<std::int64_t>(&value)) {
    entry["value"] = platform::Value(*integer);
  } else if (const auto* real = std::get_if<double>(&value)) {
    entry["value"] = platform::Value(*real);
  }
  return platform::Value(std::move(entry));
}

std::optional<DRTLCustomPropertyValue> unarchivedProperty(const platform::Value& entry) {
  const std::string type = entry["type"].stringOr("");
  const platform::Value& value = entry["value"];
  if (type == "clear") return DRTLCustomPropertyClear{};
  if (type == "boolean" && value.isBoolean()) return *value.boolean();
  if (type == "number" && value.isInteger()) return *value.integer();
  if (type == "number" && value.isReal()) return *value.real();
  if (type == "dateTime" && value.isNumber()) return dateFromSecondsSince1970(*value.real());
  if (type == "string" && value.isString()) return *value.string();
  return std::nullopt;
}

}  // namespace

void DRTLCustomPropertiesLog::encode(platform::KeyedArchiveEncoder& encoder) const {
  DRTLAbstractLog::encode(encoder);
  encodeString(encoder, "customProperties", type);
  if (!properties) return;
  platform::Dictionary dictionary;
  for (const auto& [key, value] : *properties) dictionary[key] = archivedProperty(value);
  encoder.encodeValue("properties", platform::Value(std::move(dictionary)));
}

void DRTLCustomPropertiesLog::decode(const platform::KeyedArchiveDecoder& decoder) {
  DRTLAbstractLog::decode(decoder);
  if (auto archivedType = decodeString(decoder, "customProperties")) type = archivedType;
  properties.reset();
  if (const platform::Dictionary* dictionary = decoder.value("properties").dictionary()) {
    properties.emplace();
    for (const auto& [key, entry] : *dictionary) {
      if (auto value = unarchivedProperty(entry)) (*properties)[key] = std::move(*value);
    }
  }
}

}  // namespace telemetry::core
