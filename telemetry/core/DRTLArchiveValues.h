#pragma once
// Typed keys of the telemetry archives. A missing or none value leaves the key
// out. Dates are written as reals (seconds since 1970, milliseconds kept; an
// XML <date> keeps whole seconds) and read back from a real or a <date>.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/KeyedArchive.h"

namespace telemetry::core {

void encodeString(platform::KeyedArchiveEncoder& encoder, std::string_view key, const std::optional<std::string>& value);
std::optional<std::string> decodeString(const platform::KeyedArchiveDecoder& decoder, std::string_view key);

void encodeInteger(platform::KeyedArchiveEncoder& encoder, std::string_view key,
                   const std::optional<std::int64_t>& value);
std::optional<std::int64_t> decodeInteger(const platform::KeyedArchiveDecoder& decoder, std::string_view key);

void encodeDate(platform::KeyedArchiveEncoder& encoder, std::string_view key, const std::optional<platform::Date>& value);
std::optional<platform::Date> decodeDate(const platform::KeyedArchiveDecoder& decoder, std::string_view key);

// Seconds since 1970 and back, to the microsecond.
double secondsSince1970(platform::Date date);
platform::Date dateFromSecondsSince1970(double seconds);

}  // namespace telemetry::core
