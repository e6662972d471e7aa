#include "platform/Value.h"

#include <cmath>
#include <cstdio>
#include <limits>

namespace platform {

std::optional<Date> Value::date() const {
  if (const Date* d = std::get_if<Date>(&storage_)) return *d;
  return std::nullopt;
}

std::optional<std::int64_t> Value::integer() const {
  switch (type()) {
    case Type::Integer:
      return std::get<std::int64_t>(storage_);
    case Type::Boolean:
      return std::get<bool>(storage_) ? 1 : 0;
    case Type::Real: {
      double r = std::get<double>(storage_);
      if (std::isnan(r)) return 0;
      // Saturate: a cast of an out-of-range double is undefined behaviour.
      if (r >= 9223372036854775807.0) return std::numeric_limits<std::int64_t>::max();
      if (r <= -9223372036854775808.0) return std::numeric_limits<std::int64_t>::min();
      return static_cast<std::int64_t>(r);
    }
    default:
      return std::nullopt;
  }
}

std::optional<double> Value::real() const {
  switch (type()) {
    case Type::Real:
      return std::get<double>(storage_);
    case Type::Integer:
      return static_cast<double>(std::get<std::int64_t>(storage_));
    case Type::Boolean:
      return std::get<bool>(storage_) ? 1.0 : 0.0;
    default:
      return std::nullopt;
  }
}

std::optional<bool> Value::boolean() const {
  switch (type()) {
    case Type::Boolean:
      return std::get<bool>(storage_);
    case Type::Integer:
      return std::get<std::int64_t>(storage_) != 0;
    case Type::Real:
      return std::get<double>(storage_) != 0.0;
    default:
      return std::nullopt;
  }
}

std::string Value::stringOr(std::string_view fallback) const {
  if (const std::string* s = string()) return *s;
  return std::string(fallback);
}

const Value& Value::operator[](std::string_view key) const {
  static const Value none;
  if (const Dictionary* d = dictionary()) {
    auto it = d->find(key);
    if (it != d->end()) return it->second;
  }
  return none;
}

bool Value::contains(std::string_view key) const {
  const Dictionary* d = dictionary();
  return d && d->find(key) != d->end();
}

std::string Value::describe() const {
  switch (type()) {
    case Type::None:
      return "none";
    case Type::Dictionary:
      return "dictionary of " + std::to_string(dictionary()->size()) + " entries";
    case Type::Array:
      return "array of " + std::to_string(array()->size()) + " values";
    case Type::String: {
      const std::string& s = *string();
      return "\"" + (s.size() > 60 ? s.substr(0, 60) + "…" : s) + "\"";
    }
    case Type::Integer:
      return std::to_string(*integer());
    case Type::Real: {
      char buffer[32];
      std::snprintf(buffer, sizeof buffer, "%g", *real());
      return buffer;
    }
    case Type::Boolean:
      return *boolean() ? "true" : "false";
    case Type::Date:
      return "date " + std::to_string(date()->time_since_epoch().count() / 1000000) + " s";
    case Type::Data:
      return "data of " + std::to_string(data()->size()) + " bytes";
  }
  return "?";
}

const char* typeName(Value::Type type) {
  switch (type) {
    case Value::Type::None: return "none";
    case Value::Type::Dictionary: return "dictionary";
    case Value::Type::Array: return "array";
    case Value::Type::String: return "string";
    case Value::Type::Integer: return "integer";
    case Value::Type::Real: return "real";
    case Value::Type::Boolean: return "boolean";
    case Value::Type::Date: return "date";
    case Value::Type::Data: return "data";
  }
  return "?";
}

}  // namespace platform
