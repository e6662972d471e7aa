#include "platform/DateFormatter.h"

#include <unicode/calendar.h>
#include <unicode/dtfmtsym.h>
#include <unicode/gregocal.h>
#include <unicode/locid.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>
#include <unicode/utypes.h>

#include <cmath>
#include <limits>
#include <mutex>

namespace platform {
namespace {

using TimePoint = DateFormatter::TimePoint;
using Milliseconds = std::chrono::duration<double, std::milli>;

Error dateError(DateFormatterErrorCode code, std::string reason) {
  return Error(kDateFormatterErrorDomain, code, std::move(reason));
}

Error icuError(DateFormatterErrorCode code, const std::string& what, UErrorCode status) {
  return dateError(code, what + " (" + u_errorName(status) + ")");
}

std::string toUtf8(const icu::UnicodeString& text) {
  std::string out;
  text.toUTF8String(out);
  return out;
}

// ICU counts time in milliseconds as a double. Rounding toward the past keeps
// "23:59:59.999" from becoming the next day.
template <typename Duration>
UDate toUDate(std::chrono::sys_time<Duration> date) {
  return static_cast<UDate>(
      std::chrono::floor<std::chrono::milliseconds>(date).time_since_epoch().count());
}

// ICU accepts years far outside what a system_clock time point can hold.
Result<TimePoint> fromUDate(UDate ms) {
  constexpr double kMinMs = static_cast<double>(
      std::chrono::duration_cast<std::chrono::milliseconds>(TimePoint::min().time_since_epoch()).count());
  constexpr double kMaxMs = static_cast<double>(
      std::chrono::duration_cast<std::chrono::milliseconds>(TimePoint::max().time_since_epoch()).count());
  if (!std::isfinite(ms) || ms <= kMinMs || ms >= kMaxMs) {
    return dateError(DateFormatterErrorCode::ParseFailed, "date is outside the representable range");
  }
  return TimePoint(std::chrono::duration_cast<TimePoint::duration>(
      std::chrono::milliseconds(static_cast<std::int64_t>(std::llround(ms)))));
}

Result<std::unique_ptr<icu::TimeZone>> makeTimeZone(std::string_view id) {
  if (id.empty()) return std::unique_ptr<icu::TimeZone>(icu::TimeZone::createDefault());
  std::unique_ptr<icu::TimeZone> zone(
      icu::TimeZone::createTimeZone(icu::UnicodeString::fromUTF8(icu::StringPiece(id.data(), id.size()))));
  // Unknown ids come back as the "unknown" zone rather than as an error.
  if (!zone || *zone == icu::TimeZone::getUnknown()) {
    return dateError(DateFormatterErrorCode::UnknownTimeZone, "unknown time zone '" + std::string(id) + "'");
  }
  return zone;
}

// A Gregorian calendar in `id`'s zone, independent of the current locale's
// calendar system: file names and rotation use the civil date.
Result<std::unique_ptr<icu::Calendar>> makeGregorianCalendar(std::string_view id) {
  auto zone = makeTimeZone(id);
  if (!zone) return zone.error();
  UErrorCode status = U_ZERO_ERROR;
  auto calendar = std::make_unique<icu::GregorianCalendar>(zone->release(), icu::Locale::getRoot(), status);
  if (U_FAILURE(status)) return icuError(DateFormatterErrorCode::FormattingFailed, "cannot create a calendar", status);
  // The start of a day is the first instant that exists on it, whether the
  // zone skips or repeats its midnight.
  calendar->setSkippedWallTimeOption(UCAL_WALLTIME_NEXT_VALID);
  calendar->setRepeatedWallTimeOption(UCAL_WALLTIME_FIRST);
  return std::unique_ptr<icu::Calendar>(std::move(calendar));
}

// The formatter silently drops pattern letters it does not know and accepts an
// unterminated quote; a typo there would lose fields from every log line, so
// such patterns are refused up front.
bool isValidPattern(const icu::UnicodeString& pattern) {
  const icu::UnicodeString known(icu::DateFormatSymbols::getPatternUChars());
  bool quoted = false;
  for (int32_t i = 0; i < pattern.length(); ++i) {
    const char16_t c = pattern.charAt(i);
    if (c == u'\'') {
      if (i + 1 < pattern.length() && pattern.charAt(i + 1) == u'\'') {
        ++i;  // '' is a literal quote, inside or outside quoted text
      } else {
        quoted = !quoted;
      }
    } else if (!quoted && ((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z')) && known.indexOf(c) < 0) {
      return false;
    }
  }
  return !quoted;
}

}  // namespace

struct DateFormatter::Impl {
  std::mutex mutex;
  std::unique_ptr<icu::SimpleDateFormat> format;  // guarded by mutex
  std::string pattern;
  std::string localeId;
  std::string timeZoneId;
};

DateFormatter::DateFormatter(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
DateFormatter::DateFormatter(DateFormatter&&) noexcept = default;
DateFormatter& DateFormatter::operator=(DateFormatter&&) noexcept = default;
DateFormatter::~DateFormatter() = default;

Result<DateFormatter> DateFormatter::create(std::string_view pattern, std::string_view localeId,
                                            std::string_view timeZoneId) {
  icu::Locale locale = localeId.empty() ? icu::Locale::getDefault() : icu::Locale(std::string(localeId).c_str());
  if (locale.isBogus()) {
    return dateError(DateFormatterErrorCode::UnknownLocale, "malformed locale id '" + std::string(localeId) + "'");
  }
  auto zone = makeTimeZone(timeZoneId);
  if (!zone) return zone.error();

  const icu::UnicodeString icuPattern = icu::UnicodeString::fromUTF8(icu::StringPiece(pattern.data(), pattern.size()));
  if (!isValidPattern(icuPattern)) {
    return dateError(DateFormatterErrorCode::InvalidPattern, "invalid date pattern '" + std::string(pattern) + "'");
  }
  UErrorCode status = U_ZERO_ERROR;
  auto format = std::make_unique<icu::SimpleDateFormat>(icuPattern, locale, status);
  if (U_FAILURE(status)) {
    return icuError(DateFormatterErrorCode::InvalidPattern, "invalid date pattern '" + std::string(pattern) + "'",
                    status);
  }
  icu::UnicodeString zoneId;
  (*zone)->getID(zoneId);
  format->adoptTimeZone(zone->release());
  // Strict parsing: "2024-02-30" or trailing text is an error, not a guess.
  format->setLenient(false);

  auto impl = std::make_unique<Impl>();
  impl->format = std::move(format);
  impl->pattern = std::string(pattern);
  impl->localeId = locale.getName();
  impl->timeZoneId = toUtf8(zoneId);
  return DateFormatter(std::move(impl));
}

std::string DateFormatter::stringFromDate(TimePoint date) const { return format(toUDate(date)); }

std::string DateFormatter::stringFromDate(WideTimePoint date) const { return format(toUDate(date)); }

std::string DateFormatter::format(double udate) const {
  icu::UnicodeString out;
  {
    std::lock_guard guard(impl_->mutex);
    icu::FieldPosition position;
    UErrorCode status = U_ZERO_ERROR;
    impl_->format->format(udate, out, position, status);
    // The pattern was checked in create(); a failure here leaves "".
    if (U_FAILURE(status)) return {};
  }
  return toUtf8(out);
}

Result<DateFormatter::TimePoint> DateFormatter::dateFromString(std::string_view text) const {
  const icu::UnicodeString input = icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), text.size()));
  icu::ParsePosition position(0);
  UDate parsed;
  {
    std::lock_guard guard(impl_->mutex);
    parsed = impl_->format->parse(input, position);
  }
  if (position.getErrorIndex() >= 0 || position.getIndex() == 0 || position.getIndex() != input.length()) {
    const int at = position.getErrorIndex() >= 0 ? position.getErrorIndex() : position.getIndex();
    return dateError(DateFormatterErrorCode::ParseFailed, "'" + std::string(text) + "' does not match pattern '" +
                                                              impl_->pattern + "' (at character " +
                                                              std::to_string(at) + ")");
  }
  return fromUDate(parsed);
}

const std::string& DateFormatter::dateFormat() const { return impl_->pattern; }
const std::string& DateFormatter::localeIdentifier() const { return impl_->localeId; }
const std::string& DateFormatter::timeZoneIdentifier() const { return impl_->timeZoneId; }

Result<std::chrono::year_month_day> calendarDate(DateFormatter::TimePoint date, std::string_view timeZoneId) {
  auto calendar = makeGregorianCalendar(timeZoneId);
  if (!calendar) return calendar.error();
  icu::Calendar& cal = **calendar;
  UErrorCode status = U_ZERO_ERROR;
  cal.setTime(toUDate(date), status);
  const int year = cal.get(UCAL_EXTENDED_YEAR, status);
  const int month = cal.get(UCAL_MONTH, status) + 1;  // ICU months count from 0
  const int day = cal.get(UCAL_DATE, status);
  if (U_FAILURE(status)) return icuError(DateFormatterErrorCode::FormattingFailed, "cannot compute the date", status);
  return std::chrono::year_month_day(std::chrono::year(year), std::chrono::month(static_cast<unsigned>(month)),
                                     std::chrono::day(static_cast<unsigned>(day)));
}

Result<DateFormatter::TimePoint> startOfNextDay(DateFormatter::TimePoint date, std::string_view timeZoneId) {
  auto calendar = makeGregorianCalendar(timeZoneId);
  if (!calendar) return calendar.error();
  icu::Calendar& cal = **calendar;
  UErrorCode status = U_ZERO_ERROR;
  cal.setTime(toUDate(date), status);
  cal.add(UCAL_DATE, 1, status);
  cal.set(UCAL_HOUR_OF_DAY, 0);
  cal.set(UCAL_MINUTE, 0);
  cal.set(UCAL_SECOND, 0);
  cal.set(UCAL_MILLISECOND, 0);
  const UDate next = cal.getTime(status);
  if (U_FAILURE(status)) {
    return icuError(DateFormatterErrorCode::FormattingFailed, "cannot compute the next midnight", status);
  }
  return fromUDate(next);
}

std::string currentTimeZoneIdentifier() {
  std::unique_ptr<icu::TimeZone> zone(icu::TimeZone::createDefault());
  icu::UnicodeString id;
  zone->getID(id);
  return toUtf8(id);
}

Status setCurrentTimeZoneForTesting(std::string_view timeZoneId) {
  if (timeZoneId.empty()) {
    icu::TimeZone::adoptDefault(icu::TimeZone::detectHostTimeZone());
    return Status::success();
  }
  auto zone = makeTimeZone(timeZoneId);
  if (!zone) return zone.error();
  icu::TimeZone::adoptDefault(zone->release());
  return Status::success();
}

}  // namespace platform
