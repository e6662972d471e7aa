#include "telemetry/core/DRTLArchiveValues.h"

#include <cmath>

namespace telemetry::core {

void encodeString(platform::KeyedArchiveEncoder& encoder, std::string_view key, const std::optional<std::string>& value) {
  if (value) encoder.encodeValue(key, platform::Value(*value));
}

std::optional<std::string> decodeString(const platform::KeyedArchiveDecoder& decoder, std::string_view key) {
  if (const std::string* text = decoder.value(key).string()) return *text;
  return std::nullopt;
}

void encodeInteger(platform::KeyedArchiveEncoder& encoder, std::string_view key,
                   const std::optional<std::int64_t>& value) {
  if (value) encoder.encodeValue(key, platform::Value(*value));
}

std::optional<std::int64_t> decodeInteger(const platform::KeyedArchiveDecoder& decoder, std::string_view key) {
  const platform::Value& value = decoder.value(key);
  if (!value.isNumber()) return std::nullopt;
  return value.integer();
}

void encodeDate(platform::KeyedArchiveEncoder& encoder, std::string_view key, const std::optional<platform::Date>& value) {
  if (value) encoder.encodeValue(key, platform::Value(secondsSince1970(*value)));
}

std::optional<platform::Date> decodeDate(const platform::KeyedArchiveDecoder& decoder, std::string_view key) {
  const platform::Value& value = decoder.value(key);
  if (value.isDate()) return value.date();
  if (value.isNumber()) {
    double seconds = *value.real();
    // Far outside any real timestamp: refused rather than overflowing the date.
    if (!std::isfinite(seconds) || std::fabs(seconds) > 1e12) return std::nullopt;
    return dateFromSecondsSince1970(seconds);
  }
  return std::nullopt;
}

double secondsSince1970(platform::Date date) {
  return static_cast<double>(date.time_since_epoch().count()) / 1e6;
}

platform::Date dateFromSecondsSince1970(double seconds) {
  return platform::Date(std::chrono::microseconds(std::llround(seconds * 1e6)));
}

}  // namespace telemetry::core
