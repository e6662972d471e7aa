#pragma once
// CVNJSONUtilities: property-list values to JSON text and back, with the
// system's fixed date forms and error texts (the web server's and the REST
// interfaces' replies).
//
// Class of static operations; safe on any thread. The two date formatters are
// created once, on first use, and shared.
//
// Writing: always pretty-printed (the exact white space is the JSON library's).
// A dictionary or array at the top. Strings that are not well-formed UTF-8
// are written with U+FFFD in place of the bad bytes. A value JSON cannot hold
// (a date or data outside JSONSanitizedContainer, a NaN or infinite number)
// makes the write fail.
//
// Reading: only a dictionary or array at the top (no bare strings or
// numbers), nested at most kJSONMaxDepth deep. Objects become dictionaries
// (a repeated key keeps its last value), integers that fit 64 bits become
// integers, other numbers reals, and null becomes a none value held under its
// key or at its place in the array. Nothing the parser raises escapes.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/DateFormatter.h"
#include "platform/Error.h"
#include "platform/Value.h"

namespace foundation {

inline constexpr const char* kJSONErrorDomain = "com.dirarovazovo.WebConnection";
// The platform's general error domain, used for writer and parser failures.
inline constexpr const char* kCocoaErrorDomain = "NSCocoaErrorDomain";
inline constexpr std::int64_t kJSONWriteFailedCode = 987;
inline constexpr std::int64_t kJSONReadCorruptCode = 3840;
inline constexpr const char* kLocalizedRecoverySuggestionKey = "NSLocalizedRecoverySuggestion";
inline constexpr const char* kDebugDescriptionKey = "NSDebugDescription";
// Deeper nesting is refused as malformed rather than risking the stack.
inline constexpr std::size_t kJSONMaxDepth = 512;

class CVNJSONUtilities {
 public:
  using JSONData = std::string;  // UTF-8 JSON text
  // Receives the final error of an operation: none on success.
  using ErrorOut = std::optional<platform::Error>*;

  // "yyyy-MM-dd'T'HH:mm:ssZZZ" in GMT ("2024-03-01T12:00:00+0000").
  static const platform::DateFormatter& JSONDateFormatter();
  // "yyyy-MM-dd HH:mm:ss" in the process's current time zone at first use.
  static const platform::DateFormatter& JSONDateFormatterWithoutTimezone();

  static std::optional<platform::Date> dateWithJSONString(std::string_view text);
  static std::optional<std::string> JSONStringWithDate(std::optional<platform::Date> date);
  static std::optional<platform::Date> dateWithJSONStringWithoutTimezone(std::string_view text);
  static std::optional<std::string> JSONStringWithoutTimezoneWithDate(std::optional<platform::Date> date);
  // The string, or "" for no date.
  static std::string safeJSONStringWithDate(std::optional<platform::Date> date);
  static std::string safeJSONStringWithoutTimezoneWithDate(std::optional<platform::Date> date);

  // None for a none object; else the JSON of {"value": object}.
  static std::optional<JSONData> JSONDataWithObject(const platform::Value& object);
  // Recursively: arrays and dictionaries rebuilt from their sanitized
  // elements, NaN numbers become 0.0, dates their GMT JSON string; the rest stays.
  static platform::Value JSONSanitizedContainer(const platform::Value& object);
  // The JSON of the sanitized container; none and an error when it cannot be written.
  static std::optional<JSONData> JSONDataWithContainer(const platform::Value& container, ErrorOut error = nullptr);
  // {"success": result}, with "error": errorDescription when one is given.
  static std::optional<JSONData> JSONDataWithResult(bool result,
                                                    std::optional<std::string_view> errorDescription = std::nullopt);

  // No data gives none and no error. Malformed JSON gives none and an error of
  // kCocoaErrorDomain, code 3840; the wrong kind at the top gives none and an
  // error of kJSONErrorDomain, code 0, with the texts the clients show.
  static std::optional<platform::Dictionary> dictionaryWithJSONData(std::optional<std::string_view> data,
                                                                    ErrorOut error = nullptr);
  static std::optional<platform::Array> arrayWithJSONData(std::optional<std::string_view> data,
                                                          ErrorOut error = nullptr);
  // A dictionary or array Value; none on failure.
  static platform::Value containerWithJSONData(std::optional<std::string_view> data, ErrorOut error = nullptr);
};

}  // namespace foundation
