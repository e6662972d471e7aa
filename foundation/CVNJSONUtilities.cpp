#include "foundation/CVNJSONUtilities.h"

#include <cmath>
#include <cstdlib>
#include <limits>

#include <nlohmann/json.hpp>

#include "platform/Diagnostics.h"

namespace foundation {
namespace {

using Json = nlohmann::json;
using platform::Value;

constexpr const char* kFixedFormatLocale = "en_US_POSIX";  // digits and calendar never localized
constexpr const char* kParseFailedDescription = "The data couldn’t be read because it isn’t in the correct format.";

// The formatters have fixed patterns and locales: failing to create one means
// the ICU data is missing, which no caller could work around.
platform::DateFormatter makeFormatter(std::string_view pattern, std::string_view timeZone) {
  platform::Result<platform::DateFormatter> formatter =
      platform::DateFormatter::create(pattern, kFixedFormatLocale, timeZone);
  if (!formatter.ok()) {
    platform::reportDiagnostic(platform::DiagnosticLevel::Error,
                               "CVNJSONUtilities: no date formatter: " + formatter.error().describe());
    std::abort();
  }
  return std::move(formatter).value();
}

std::optional<platform::Date> parseDate(const platform::DateFormatter& formatter, std::string_view text) {
  platform::Result<platform::DateFormatter::TimePoint> parsed = formatter.dateFromString(text);
  if (!parsed.ok()) return std::nullopt;
  return std::chrono::floor<std::chrono::microseconds>(*parsed);
}

// --- writing ---

// Builds the JSON form of `value`; the reason for failure when JSON cannot hold it.
std::optional<std::string> toJson(const Value& value, Json& out, std::size_t depth) {
  if (depth > kJSONMaxDepth) return "Nesting too deep in JSON write";
  switch (value.type()) {
    case Value::Type::None:
      out = nullptr;
      return std::nullopt;
    case Value::Type::Dictionary:
      out = Json::object();
      for (const auto& [key, element] : *value.dictionary()) {
        if (auto failure = toJson(element, out[key], depth + 1)) return failure;
      }
      return std::nullopt;
    case Value::Type::Array:
      out = Json::array();
      for (const Value& element : *value.array()) {
        out.push_back(nullptr);
        if (auto failure = toJson(element, out.back(), depth + 1)) return failure;
      }
      return std::nullopt;
    case Value::Type::String:
      out = *value.string();
      return std::nullopt;
    case Value::Type::Integer:
      out = *value.integer();
      return std::nullopt;
    case Value::Type::Real: {
      const double number = *value.real();
      if (std::isnan(number)) return "Invalid number value (NaN) in JSON write";
      if (std::isinf(number)) return "Invalid number value (infinite) in JSON write";
      out = number;
      return std::nullopt;
    }
    case Value::Type::Boolean:
      out = *value.boolean();
      return std::nullopt;
    case Value::Type::Date:
    case Value::Type::Data:
      return std::string("Invalid type in JSON write (") + platform::typeName(value.type()) + ")";
  }
  return "Invalid type in JSON write";
}

platform::Error writeError(const std::string& reason) {
  return platform::Error(kCocoaErrorDomain, kJSONWriteFailedCode, reason);
}

std::optional<std::string> write(const Value& container, std::optional<platform::Error>* error) {
  Json json;
  std::optional<std::string> failure = toJson(container, json, 0);
  if (!failure) {
    try {
      // Replace, not throw, on ill-formed UTF-8 in strings and keys.
      std::string text = json.dump(2, ' ', false, Json::error_handler_t::replace);
      if (error) error->reset();
      return text;
    } catch (const std::exception& exception) {
      failure = exception.what();
    }
  }
  if (error) *error = writeError(*failure);
  return std::nullopt;
}

// --- reading ---

// Deepest nesting of arrays and objects, stopping early once past the limit.
// Brackets inside strings do not count.
std::size_t nestingDepth(std::string_view text) {
  std::size_t depth = 0, deepest = 0;
  bool inString = false, escaped = false;
  for (char c : text) {
    if (inString) {
      if (escaped) escaped = false;
      else if (c == '\\') escaped = true;
      else if (c == '"') inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      deepest = std::max(deepest, ++depth);
      if (deepest > kJSONMaxDepth) break;
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    }
  }
  return deepest;
}

// The value of `json`; false for a number too large for a double, which JSON
// text can spell ("1e400") but no writer could give back.
bool fromJson(const Json& json, Value& out) {
  switch (json.type()) {
    case Json::value_t::object: {
      platform::Dictionary dictionary;
      for (const auto& [key, element] : json.items()) {
        if (!fromJson(element, dictionary[key])) return false;
      }
      out = Value(std::move(dictionary));
      return true;
    }
    case Json::value_t::array: {
      platform::Array array(json.size());
      for (std::size_t i = 0; i < json.size(); ++i) {
        if (!fromJson(json[i], array[i])) return false;
      }
      out = Value(std::move(array));
      return true;
    }
    case Json::value_t::string:
      out = Value(json.get_ref<const std::string&>());
      return true;
    case Json::value_t::boolean:
      out = Value(json.get<bool>());
      return true;
    case Json::value_t::number_integer:
      out = Value(json.get<std::int64_t>());
      return true;
    case Json::value_t::number_unsigned: {
      const std::uint64_t number = json.get<std::uint64_t>();
      if (number <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
        out = Value(static_cast<std::int64_t>(number));
      else
        out = Value(static_cast<double>(number));
      return true;
    }
    case Json::value_t::number_float:
      out = Value(json.get<double>());
      return std::isfinite(json.get<double>());
    default:
      out = Value();  // null (and the parser's internal "discarded", never seen here)
      return true;
  }
}

platform::Error parseError(std::string detail) {
  return platform::Error(kCocoaErrorDomain, kJSONReadCorruptCode, kParseFailedDescription,
                         platform::Dictionary{{kDebugDescriptionKey, Value(std::move(detail))}});
}

// The parsed dictionary or array; none with the error in `error` otherwise.
platform::Value parse(std::string_view data, std::optional<platform::Error>& error) {
  if (nestingDepth(data) > kJSONMaxDepth) {
    error = parseError("Too many nested arrays or dictionaries.");
    return {};
  }
  try {
    const Json json = Json::parse(data);
    if (!json.is_object() && !json.is_array()) {
      error = parseError("JSON text did not start with array or object.");
      return {};
    }
    Value value;
    if (!fromJson(json, value)) {
      error = parseError("Number too large.");
      return {};
    }
    return value;
  } catch (const std::exception& exception) {
    error = parseError(exception.what());
    return {};
  }
}

platform::Value readContainer(std::optional<std::string_view> data, Value::Type expected,
                              std::optional<platform::Error>* errorOut) {
  std::optional<platform::Error> error;
  Value value;
  if (data) {
    value = parse(*data, error);
    if (!error && expected == Value::Type::Dictionary && !value.isDictionary()) {
      error = platform::Error(kJSONErrorDomain, 0, "JSON dictionary expected. Other object received.",
                              {{kLocalizedRecoverySuggestionKey, Value("Try sending a JSON dictionary instead.")}});
    } else if (!error && expected == Value::Type::Array && !value.isArray()) {
      error = platform::Error(kJSONErrorDomain, 0, "JSON array expected. Other object received.",
                              {{kLocalizedRecoverySuggestionKey, Value("Try sending a JSON array instead.")}});
    }
    if (error) value = Value();
  }
  if (errorOut) *errorOut = std::move(error);
  return value;
}

}  // namespace

const platform::DateFormatter& CVNJSONUtilities::JSONDateFormatter() {
  static const platform::DateFormatter formatter = makeFormatter("yyyy-MM-dd'T'HH:mm:ssZZZ", "GMT");
  return formatter;
}

const platform::DateFormatter& CVNJSONUtilities::JSONDateFormatterWithoutTimezone() {
  static const platform::DateFormatter formatter = makeFormatter("yyyy-MM-dd HH:mm:ss", {});
  return formatter;
}

std::optional<platform::Date> CVNJSONUtilities::dateWithJSONString(std::string_view text) {
  return parseDate(JSONDateFormatter(), text);
}

std::optional<std::string> CVNJSONUtilities::JSONStringWithDate(std::optional<platform::Date> date) {
  if (!date) return std::nullopt;
  return JSONDateFormatter().stringFromDate(*date);
}

std::optional<platform::Date> CVNJSONUtilities::dateWithJSONStringWithoutTimezone(std::string_view text) {
  return parseDate(JSONDateFormatterWithoutTimezone(), text);
}

std::optional<std::string> CVNJSONUtilities::JSONStringWithoutTimezoneWithDate(std::optional<platform::Date> date) {
  if (!date) return std::nullopt;
  return JSONDateFormatterWithoutTimezone().stringFromDate(*date);
}

std::string CVNJSONUtilities::safeJSONStringWithDate(std::optional<platform::Date> date) {
  return JSONStringWithDate(date).value_or("");
}

std::string CVNJSONUtilities::safeJSONStringWithoutTimezoneWithDate(std::optional<platform::Date> date) {
  return JSONStringWithoutTimezoneWithDate(date).value_or("");
}

std::optional<CVNJSONUtilities::JSONData> CVNJSONUtilities::JSONDataWithObject(const platform::Value& object) {
  if (object.isNone()) return std::nullopt;
  return write(Value(platform::Dictionary{{"value", object}}), nullptr);
}

platform::Value CVNJSONUtilities::JSONSanitizedContainer(const platform::Value& object) {
  switch (object.type()) {
    case Value::Type::Array: {
      platform::Array array;
      array.reserve(object.array()->size());
      for (const Value& element : *object.array()) array.push_back(JSONSanitizedContainer(element));
      return Value(std::move(array));
    }
    case Value::Type::Dictionary: {
      platform::Dictionary dictionary;
      for (const auto& [key, element] : *object.dictionary()) dictionary.emplace(key, JSONSanitizedContainer(element));
      return Value(std::move(dictionary));
    }
    case Value::Type::Real:
      return std::isnan(*object.real()) ? Value(0.0) : object;
    case Value::Type::Date:
      return Value(safeJSONStringWithDate(object.date()));
    default:
      return object;
  }
}

std::optional<CVNJSONUtilities::JSONData> CVNJSONUtilities::JSONDataWithContainer(const platform::Value& container,
                                                                                 ErrorOut error) {
  if (!container.isDictionary() && !container.isArray()) {
    if (error) *error = writeError("Invalid top-level type in JSON write");
    return std::nullopt;
  }
  return write(JSONSanitizedContainer(container), error);
}

std::optional<CVNJSONUtilities::JSONData> CVNJSONUtilities::JSONDataWithResult(
    bool result, std::optional<std::string_view> errorDescription) {
  platform::Dictionary reply{{"success", Value(result)}};
  if (errorDescription) reply.emplace("error", Value(*errorDescription));
  return write(Value(std::move(reply)), nullptr);
}

std::optional<platform::Dictionary> CVNJSONUtilities::dictionaryWithJSONData(std::optional<std::string_view> data,
                                                                            ErrorOut error) {
  Value value = readContainer(data, Value::Type::Dictionary, error);
  if (!value.isDictionary()) return std::nullopt;
  return std::move(*value.dictionary());
}

std::optional<platform::Array> CVNJSONUtilities::arrayWithJSONData(std::optional<std::string_view> data,
                                                                  ErrorOut error) {
  Value value = readContainer(data, Value::Type::Array, error);
  if (!value.isArray()) return std::nullopt;
  return std::move(*value.array());
}

platform::Value CVNJSONUtilities::containerWithJSONData(std::optional<std::string_view> data, ErrorOut error) {
  return readContainer(data, Value::Type::None, error);
}

}  // namespace foundation
