#include <cstdio>

#include "platform/Clock.h"
#include "telemetry/core/DRTLUtility.h"

namespace telemetry::core {

double DRTLUtility::nowInMilliseconds() {
  auto sinceEpoch = platform::Clock::current().wallNow().time_since_epoch();
  return std::chrono::duration<double, std::milli>(sinceEpoch).count();
}

// Written by hand on std::chrono rather than through a shared ICU formatter:
// no state, so any thread may format and parse at once.
std::string DRTLUtility::dateToISO8601(platform::Date date) {
  auto milliseconds = std::chrono::floor<std::chrono::milliseconds>(date);
  auto day = std::chrono::floor<std::chrono::days>(milliseconds);
  std::chrono::year_month_day ymd{day};
  std::chrono::hh_mm_ss<std::chrono::milliseconds> time{milliseconds - day};
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(ymd.year()),
                static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                static_cast<int>(time.seconds().count()), static_cast<int>(time.subseconds().count()));
  return text;
}

std::optional<platform::Date> DRTLUtility::dateFromISO8601(std::string_view text) {
  // Exactly "dddd-dd-ddTdd:dd:dd.dddZ".
  static constexpr std::string_view kShape = "dddd-dd-ddTdd:dd:dd.dddZ";
  if (text.size() != kShape.size()) return std::nullopt;
  for (std::size_t i = 0; i < kShape.size(); ++i) {
    const char c = text[i];
    if (kShape[i] == 'd' ? (c < '0' || c > '9') : c != kShape[i]) return std::nullopt;
  }
  auto number = [&](std::size_t at, std::size_t length) {
    int value = 0;
    for (std::size_t i = at; i < at + length; ++i) value = value * 10 + (text[i] - '0');
    return value;
  };
  std::chrono::year_month_day ymd{std::chrono::year(number(0, 4)), std::chrono::month(number(5, 2)),
                                  std::chrono::day(number(8, 2))};
  const int hours = number(11, 2), minutes = number(14, 2), seconds = number(17, 2);
  if (!ymd.ok() || hours > 23 || minutes > 59 || seconds > 59) return std::nullopt;
  return std::chrono::sys_days(ymd) + std::chrono::hours(hours) + std::chrono::minutes(minutes) +
         std::chrono::seconds(seconds) + std::chrono::milliseconds(number(20, 3));
}

}  // namespace telemetry::core
