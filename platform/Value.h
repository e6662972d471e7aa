#pragma once
// Property-list value: the one type for dictionaries, arrays, strings, numbers,
// booleans, dates and data that cross the system (node replies, notification
// user info, user defaults, documents, archives). A default-constructed Value is
// "none" (nil), which is kept apart from an empty string, array or dictionary.
//
// Dictionaries keep their keys sorted by UTF-8 bytes (code-point order), the
// order in which the XML writer emits them.

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace platform {

class Value;

using Dictionary = std::map<std::string, Value, std::less<>>;
using Array = std::vector<Value>;
using Data = std::vector<std::uint8_t>;
// Dates keep whole microseconds; XML property lists store whole seconds.
using Date = std::chrono::sys_time<std::chrono::microseconds>;

class Value {
 public:
  enum class Type { None, Dictionary, Array, String, Integer, Real, Boolean, Date, Data };

  Value() = default;
  Value(Dictionary v) : storage_(std::move(v)) {}
  Value(Array v) : storage_(std::move(v)) {}
  Value(std::string v) : storage_(std::move(v)) {}
  Value(std::string_view v) : storage_(std::string(v)) {}
  Value(const char* v) : storage_(std::string(v)) {}
  Value(std::int64_t v) : storage_(v) {}
  Value(int v) : storage_(std::int64_t{v}) {}
  Value(unsigned v) : storage_(std::int64_t{v}) {}
  Value(long long v) : storage_(static_cast<std::int64_t>(v)) {}
  Value(double v) : storage_(v) {}
  Value(bool v) : storage_(v) {}
  Value(Date v) : storage_(v) {}
  Value(Data v) : storage_(std::move(v)) {}

  Type type() const { return static_cast<Type>(storage_.index()); }
  bool isNone() const { return type() == Type::None; }
  bool isDictionary() const { return type() == Type::Dictionary; }
  bool isArray() const { return type() == Type::Array; }
  bool isString() const { return type() == Type::String; }
  bool isInteger() const { return type() == Type::Integer; }
  bool isReal() const { return type() == Type::Real; }
  bool isNumber() const { return isInteger() || isReal(); }
  bool isBoolean() const { return type() == Type::Boolean; }
  bool isDate() const { return type() == Type::Date; }
  bool isData() const { return type() == Type::Data; }

  // Typed access: nullptr when the value holds another type.
  const Dictionary* dictionary() const { return std::get_if<Dictionary>(&storage_); }
  Dictionary* dictionary() { return std::get_if<Dictionary>(&storage_); }
  const Array* array() const { return std::get_if<Array>(&storage_); }
  Array* array() { return std::get_if<Array>(&storage_); }
  const std::string* string() const { return std::get_if<std::string>(&storage_); }
  const Data* data() const { return std::get_if<Data>(&storage_); }
  std::optional<Date> date() const;

  // Numeric access that converts between integer, real and boolean the way
  // property-list readers do (a real read as an integer truncates toward zero,
  // saturating at the int64 bounds; NaN reads as 0). nullopt for other types.
  std::optional<std::int64_t> integer() const;
  std::optional<double> real() const;
  std::optional<bool> boolean() const;

  // Lenient accessors with a fallback for none or a wrong type.
  std::string stringOr(std::string_view fallback) const;
  std::int64_t integerOr(std::int64_t fallback) const { return integer().value_or(fallback); }
  double realOr(double fallback) const { return real().value_or(fallback); }
  bool booleanOr(bool fallback) const { return boolean().value_or(fallback); }

  // Dictionary lookup: the value for key, or a shared none when this is not a
  // dictionary or has no such key.
  const Value& operator[](std::string_view key) const;
  bool contains(std::string_view key) const;

  friend bool operator==(const Value&, const Value&) = default;

  // Short human-readable description for logs and errors (not a serialisation).
  std::string describe() const;

 private:
  std::variant<std::monostate, Dictionary, Array, std::string, std::int64_t, double, bool, Date, Data> storage_;
};

const char* typeName(Value::Type type);

}  // namespace platform
