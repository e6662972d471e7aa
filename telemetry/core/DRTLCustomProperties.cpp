#include "telemetry/core/DRTLCustomProperties.h"

#include <unicode/unistr.h>

#include <cmath>

#include "telemetry/core/DRTLLogger.h"

namespace telemetry::core {
namespace {

constexpr const char* kKeyPattern = "^[a-zA-Z][a-zA-Z0-9]*$";

// The key pattern, written out: a letter, then letters and digits.
bool matchesKeyPattern(const std::string& key) {
  auto isLetter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
  auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
  if (key.empty() || !isLetter(key[0])) return false;
  for (char c : key) {
    if (!isLetter(c) && !isDigit(c)) return false;
  }
  return true;
}

// Length in UTF-16 code units, as the limits count.
std::size_t utf16Length(const std::string& text) {
  return static_cast<std::size_t>(icu::UnicodeString::fromUTF8(text).length());
}

}  // namespace

DRTLCustomProperties& DRTLCustomProperties::setString(const std::optional<std::string>& value, const std::string& key) {
  return setObject(value ? std::optional<DRTLCustomPropertyValue>(*value) : std::nullopt, key);
}
DRTLCustomProperties& DRTLCustomProperties::setNumber(double value, const std::string& key) {
  return setObject(DRTLCustomPropertyValue(value), key);
}
DRTLCustomProperties& DRTLCustomProperties::setNumber(std::int64_t value, const std::string& key) {
  return setObject(DRTLCustomPropertyValue(value), key);
}
DRTLCustomProperties& DRTLCustomProperties::setBool(bool value, const std::string& key) {
  return setObject(DRTLCustomPropertyValue(value), key);
}
DRTLCustomProperties& DRTLCustomProperties::setDate(platform::Date value, const std::string& key) {
  return setObject(DRTLCustomPropertyValue(value), key);
}

DRTLCustomProperties& DRTLCustomProperties::clearPropertyForKey(const std::string& key) {
  std::lock_guard lock(mutex_);
  if (isValidKey(key)) properties_[key] = DRTLCustomPropertyClear{};
  return *this;
}

DRTLCustomPropertyMap DRTLCustomProperties::propertiesImmutableCopy() const {
  std::lock_guard lock(mutex_);
  return properties_;
}

DRTLCustomProperties& DRTLCustomProperties::setObject(const std::optional<DRTLCustomPropertyValue>& value,
                                                      const std::string& key) {
  std::lock_guard lock(mutex_);
  if (isValidKey(key) && isValidValue(value)) properties_[key] = *value;
  return *this;
}

bool DRTLCustomProperties::isValidKey(const std::string& key) const {
  if (!matchesKeyPattern(key)) {
    DRTLLogError("Custom property \"" + key + "\" must match \"" + kKeyPattern + "\"");
    return false;
  }
  if (utf16Length(key) > kDRTLMaxCustomPropertyLength) {
    DRTLLogError("Custom property \"" + key + "\" length cannot be longer than \"" +
                 std::to_string(kDRTLMaxCustomPropertyLength) + "\" characters.");
    return false;
  }
  if (properties_.contains(key)) {
    DRTLLogWarning("Custom property \"" + key + "\" is already set or cleared and will be overridden.");
    return true;
  }
  if (properties_.size() >= kDRTLMaxCustomPropertiesCount) {
    DRTLLogError("Custom properties cannot contain more than \"" + std::to_string(kDRTLMaxCustomPropertiesCount) +
                 "\" items.");
    return false;
  }
  return true;
}

bool DRTLCustomProperties::isValidValue(const std::optional<DRTLCustomPropertyValue>& value) {
  if (!value) {
    DRTLLogError(std::string("Custom property value cannot be null, did you mean to call clear?"));
    return false;
  }
  if (const auto* text = std::get_if<std::string>(&*value); text && utf16Length(*text) > kDRTLMaxCustomPropertyLength) {
    DRTLLogError("Custom property value length cannot be longer than \"" + std::to_string(kDRTLMaxCustomPropertyLength) +
                 "\" characters.");
    return false;
  }
  if (const auto* real = std::get_if<double>(&*value); real && !std::isfinite(*real)) {
    DRTLLogError(std::string("Custom property value cannot be NaN or infinite."));
    return false;
  }
  return true;
}

}  // namespace telemetry::core
