#pragma once
// DateFormatter: turns time points into text and back with a locale pattern
// ("y-MM-dd", "HH:mm:ss.SSS", "EEEE"), in a given locale and time zone or the
// process's current ones. Also the calendar helpers the technical log needs to
// name its files and to rotate them at local midnight.
//
// Owned by whoever formats (usually one per log or view). Any thread: calls are
// serialised by an internal mutex, because the underlying formatter keeps
// mutable state and is not safe for concurrent use. For heavy use from several
// threads at once, give each thread its own formatter.
//
// Guarantees: formatting keeps milliseconds (sub-millisecond parts are
// dropped, rounding toward the past); parsing is strict (the whole string must
// match the pattern and the fields must name a real date) and reports a
// mismatch as an Error, never as a guessed date.

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

#include "platform/Error.h"

namespace platform {

inline constexpr const char* kDateFormatterErrorDomain = "DateFormatterErrorDomain";
enum class DateFormatterErrorCode {
  InvalidPattern = 1,
  UnknownLocale = 2,
  UnknownTimeZone = 3,
  ParseFailed = 4,
  FormattingFailed = 5,
};

class DateFormatter {
 public:
  using TimePoint = std::chrono::system_clock::time_point;

  // An empty locale id means the current locale (from the environment);
  // an empty time-zone id means the current time zone.
  static Result<DateFormatter> create(std::string_view pattern, std::string_view localeId = {},
                                      std::string_view timeZoneId = {});

  DateFormatter(DateFormatter&&) noexcept;
  DateFormatter& operator=(DateFormatter&&) noexcept;
  ~DateFormatter();

  std::string stringFromDate(TimePoint date) const;
  // The same for a date in whole microseconds (a property-list date), which
  // reaches far beyond the years 1678-2262 that TimePoint can hold: such a
  // date must not be converted to TimePoint first.
  using WideTimePoint = std::chrono::sys_time<std::chrono::microseconds>;
  std::string stringFromDate(WideTimePoint date) const;
  Result<TimePoint> dateFromString(std::string_view text) const;

  const std::string& dateFormat() const;
  const std::string& localeIdentifier() const;    // as resolved, e.g. "en_US_POSIX"
  const std::string& timeZoneIdentifier() const;  // as resolved, e.g. "Europe/Zurich"

 private:
  struct Impl;
  explicit DateFormatter(std::unique_ptr<Impl> impl);
  std::string format(double udate) const;  // milliseconds since 1970
  std::unique_ptr<Impl> impl_;
};

// The local calendar date of `date` in the given time zone (empty: current).
Result<std::chrono::year_month_day> calendarDate(DateFormatter::TimePoint date, std::string_view timeZoneId = {});

// The first instant of the day after the local day holding `date` (normally
// midnight; where a zone skips midnight, the first wall time that exists). On
// days with a daylight-saving change the result is 23 or 25 hours after the
// previous midnight, not a fixed 24.
Result<DateFormatter::TimePoint> startOfNextDay(DateFormatter::TimePoint date, std::string_view timeZoneId = {});

// The id of the process's current time zone ("Europe/Zurich").
std::string currentTimeZoneIdentifier();
// Replaces the current time zone process-wide (tests fix it with this); an
// empty id goes back to the host's zone.
Status setCurrentTimeZoneForTesting(std::string_view timeZoneId);

}  // namespace platform
