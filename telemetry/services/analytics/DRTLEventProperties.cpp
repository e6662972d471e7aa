#include "telemetry/services/analytics/DRTLEventProperties.h"

#include <cmath>
#include <vector>

#include "telemetry/core/DRTLLogger.h"
#include "telemetry/services/analytics/DRTLAnalyticsConstants.h"

namespace telemetry::analytics {
namespace {

template <typename Property, typename Value>
std::shared_ptr<const core::DRTLTypedProperty> makeProperty(const std::string& name, Value value) {
  auto property = std::make_shared<Property>();
  property->name = name;
  property->value = std::move(value);
  return property;
}

}  // namespace

DRTLEventProperties::DRTLEventProperties(const std::map<std::string, std::string>& strings) {
  for (const auto& [key, value] : strings) properties_[key] = makeProperty<core::DRTLStringTypedProperty>(key, value);
}

bool DRTLEventProperties::validateKey(const std::optional<std::string>& key) {
  if (key) return true;
  DRTL_LOG(core::DRTLLogLevelError, kDRTLAnalyticsLogTag, std::string("Key cannot be null. Property will not be added."));
  return false;
}

void DRTLEventProperties::logMissingValue() {
  DRTL_LOG(core::DRTLLogLevelError, kDRTLAnalyticsLogTag,
           std::string("Value cannot be null. Property will not be added."));
}

void DRTLEventProperties::setProperty(std::shared_ptr<const core::DRTLTypedProperty> property) {
  if (!property || !property->name) return;
  std::lock_guard lock(mutex_);
  properties_[*property->name] = std::move(property);
}

void DRTLEventProperties::removeProperty(const std::string& key) {
  std::lock_guard lock(mutex_);
  properties_.erase(key);
}

DRTLEventProperties& DRTLEventProperties::setString(const std::optional<std::string>& value,
                                                    const std::optional<std::string>& key) {
  if (validateKey(key) && validateValue(value)) setProperty(makeProperty<core::DRTLStringTypedProperty>(*key, *value));
  return *this;
}

DRTLEventProperties& DRTLEventProperties::setDouble(double value, const std::optional<std::string>& key) {
  if (!validateKey(key)) return *this;
  if (!std::isfinite(value)) {
    DRTL_LOG(core::DRTLLogLevelError, kDRTLAnalyticsLogTag,
             "Double value for property '" + *key + "' must be finite (cannot be INFINITY or NAN).");
    return *this;
  }
  setProperty(makeProperty<core::DRTLDoubleTypedProperty>(*key, value));
  return *this;
}

DRTLEventProperties& DRTLEventProperties::setInt64(std::int64_t value, const std::optional<std::string>& key) {
  if (validateKey(key)) setProperty(makeProperty<core::DRTLLongTypedProperty>(*key, value));
  return *this;
}

DRTLEventProperties& DRTLEventProperties::setBool(bool value, const std::optional<std::string>& key) {
  if (validateKey(key)) setProperty(makeProperty<core::DRTLBooleanTypedProperty>(*key, value));
  return *this;
}

DRTLEventProperties& DRTLEventProperties::setDate(const std::optional<platform::Date>& value,
                                                  const std::optional<std::string>& key) {
  if (validateKey(key) && validateValue(value)) {
    setProperty(makeProperty<core::DRTLDateTimeTypedProperty>(*key, *value));
  }
  return *this;
}

DRTLTypedPropertyMap DRTLEventProperties::properties() const {
  std::lock_guard lock(mutex_);
  return properties_;
}

core::DRTLJSON DRTLEventProperties::serializeToArray() const {
  core::DRTLJSON array = core::DRTLJSON::array();
  for (const auto& [key, property] : properties()) array.push_back(property->serializeToDictionary());
  return array;
}

bool DRTLEventProperties::isEmpty() const {
  std::lock_guard lock(mutex_);
  return properties_.empty();
}

void DRTLEventProperties::mergeEventProperties(const DRTLEventProperties& other) {
  if (&other == this) return;
  DRTLTypedPropertyMap incoming = other.properties();
  std::lock_guard lock(mutex_);
  for (auto& [key, property] : incoming) properties_[key] = std::move(property);
}

bool DRTLEventProperties::isEqual(const DRTLEventProperties* other) const {
  if (!other) return false;
  const DRTLTypedPropertyMap mine = properties();
  const DRTLTypedPropertyMap theirs = other->properties();
  if (mine.size() != theirs.size()) return false;
  for (const auto& [key, property] : mine) {
    auto found = theirs.find(key);
    if (found == theirs.end() || !property->isEqual(found->second.get())) return false;
  }
  return true;
}

void DRTLEventProperties::encode(platform::KeyedArchiveEncoder& encoder) const {
  std::vector<const platform::Archivable*> objects;
  const DRTLTypedPropertyMap snapshot = properties();
  for (const auto& [key, property] : snapshot) objects.push_back(property.get());
  encoder.encodeObjects("root", objects);
}

void DRTLEventProperties::decode(const platform::KeyedArchiveDecoder& decoder) {
  DRTLTypedPropertyMap decoded;
  if (decoder.contains("root")) {
    auto objects = decoder.decodeObjectsAs<core::DRTLTypedProperty>("root");
    if (objects.ok()) {
      for (auto& property : *objects) {
        if (property->name) decoded[*property->name] = std::move(property);
      }
    }
  }
  std::lock_guard lock(mutex_);
  properties_ = std::move(decoded);
}

}  // namespace telemetry::analytics
