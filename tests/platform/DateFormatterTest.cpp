#include "platform/DateFormatter.h"

#include <gtest/gtest.h>

#include <latch>
#include <thread>
#include <vector>

namespace platform {
namespace {

using namespace std::chrono;
using namespace std::chrono_literals;
using TimePoint = DateFormatter::TimePoint;

TimePoint utc(year_month_day date, milliseconds timeOfDay = 0ms) {
  return TimePoint(duration_cast<TimePoint::duration>(sys_days(date).time_since_epoch() + timeOfDay));
}

std::string show(TimePoint t) {
  auto formatter = DateFormatter::create("y-MM-dd HH:mm:ss.SSS", "en_US_POSIX", "UTC");
  return formatter ? formatter->stringFromDate(t) + " UTC" : "?";
}

DateFormatter make(std::string_view pattern, std::string_view locale, std::string_view zone) {
  auto formatter = DateFormatter::create(pattern, locale, zone);
  if (!formatter) {
    ADD_FAILURE() << formatter.error().describe();
    formatter = DateFormatter::create("'unusable'", "en_US_POSIX", "UTC");
  }
  return std::move(formatter).value();
}

TEST(DateFormatterTest, FormatsPatternsInTheGivenLocaleAndZone) {
  // 2024-03-05 is a Tuesday.
  const TimePoint afternoon = utc(2024y / March / 5, 14h + 7min + 9s + 42ms);
  struct Case {
    const char* pattern;
    const char* locale;
    const char* zone;
    TimePoint date;
    const char* expected;
  } cases[] = {
      {"y-MM-dd", "en_US_POSIX", "UTC", afternoon, "2024-03-05"},
      {"HH:mm:ss.SSS", "en_US_POSIX", "UTC", afternoon, "14:07:09.042"},
      {"EEEE", "en_US_POSIX", "UTC", afternoon, "Tuesday"},
      {"EEEE d. MMMM", "de_CH", "Europe/Zurich", afternoon, "Dienstag 5. März"},
      // The technical log's line prefix, one hour ahead of UTC in winter.
      {"y-MM-dd\tHH:mm:ss\tEEEE", "en_US_POSIX", "Europe/Zurich", afternoon, "2024-03-05\t15:07:09\tTuesday"},
      // Late in the UTC evening it is already the next day in Zurich.
      {"y-MM-dd EEEE", "en_US_POSIX", "Europe/Zurich", utc(2024y / March / 5, 23h + 30min), "2024-03-06 Wednesday"},
      // Summer time: two hours ahead.
      {"HH:mm", "en_US_POSIX", "Europe/Zurich", utc(2024y / July / 1, 12h), "14:00"},
      // Sub-millisecond parts round toward the past, also before 1970.
      {"y-MM-dd HH:mm:ss.SSS", "en_US_POSIX", "UTC", afternoon + 999us, "2024-03-05 14:07:09.042"},
      {"y-MM-dd HH:mm:ss.SSS", "en_US_POSIX", "UTC", TimePoint{} - 1ns, "1969-12-31 23:59:59.999"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.pattern) + " " + c.locale + " " + c.zone + " at " + show(c.date));
    EXPECT_EQ(make(c.pattern, c.locale, c.zone).stringFromDate(c.date), c.expected);
  }
}

TEST(DateFormatterTest, ParsesBackToTheSameInstantWithMilliseconds) {
  const DateFormatter formatter = make("y-MM-dd HH:mm:ss.SSS", "en_US_POSIX", "Europe/Zurich");
  const TimePoint date = utc(2024y / October / 27, 1h + 30min + 250ms);  // in the repeated hour
  const std::string text = formatter.stringFromDate(date);
  EXPECT_EQ(text, "2024-10-27 02:30:00.250");
  auto parsed = formatter.dateFromString(text);
  ASSERT_TRUE(parsed) << parsed.error().describe();
  EXPECT_EQ(show(*parsed), show(date));

  auto zurichSummer = make("y-MM-dd HH:mm", "en_US_POSIX", "Europe/Zurich").dateFromString("2024-07-01 14:00");
  ASSERT_TRUE(zurichSummer);
  EXPECT_EQ(*zurichSummer, utc(2024y / July / 1, 12h));
}

TEST(DateFormatterTest, RefusesTextThatDoesNotMatchThePattern) {
  const DateFormatter formatter = make("y-MM-dd", "en_US_POSIX", "UTC");
  for (const char* text : {"", "yesterday", "2024-03-05 trailing", "2024-02-30", "2024-13-01", "05.03.2024"}) {
    SCOPED_TRACE(text);
    auto parsed = formatter.dateFromString(text);
    ASSERT_FALSE(parsed) << show(*parsed);
    EXPECT_TRUE(parsed.error().is(kDateFormatterErrorDomain, DateFormatterErrorCode::ParseFailed));
  }
  // A year a system_clock time point cannot hold is an error, not a wrapped date.
  EXPECT_FALSE(formatter.dateFromString("9999-01-01"));
}

TEST(DateFormatterTest, RefusesUnknownZonesAndBadPatterns) {
  auto zone = DateFormatter::create("y", "en_US_POSIX", "Mars/Olympus_Mons");
  ASSERT_FALSE(zone);
  EXPECT_TRUE(zone.error().is(kDateFormatterErrorDomain, DateFormatterErrorCode::UnknownTimeZone));

  // Unknown letters would otherwise vanish silently from the output.
  for (const char* pattern : {"y-MM-dd'T", "yyyy-MM-dd jj", "HH:mm:ss tt"}) {
    SCOPED_TRACE(pattern);
    auto formatter = DateFormatter::create(pattern, "en_US_POSIX", "UTC");
    ASSERT_FALSE(formatter);
    EXPECT_TRUE(formatter.error().is(kDateFormatterErrorDomain, DateFormatterErrorCode::InvalidPattern));
  }
  EXPECT_EQ(make("y-MM-dd'T'HH 'o''clock' ''", "en_US_POSIX", "UTC").stringFromDate(TimePoint{}),
            "1970-01-01T00 o'clock '");

  auto good = DateFormatter::create("y", "en_US_POSIX", "Europe/Zurich");
  ASSERT_TRUE(good);
  EXPECT_EQ(good->timeZoneIdentifier(), "Europe/Zurich");
  EXPECT_EQ(good->localeIdentifier(), "en_US_POSIX");
}

TEST(DateFormatterTest, SharedFormatterGivesEachThreadItsOwnResult) {
  const DateFormatter formatter = make("y-MM-dd HH:mm:ss.SSS", "en_US_POSIX", "UTC");
  constexpr int kThreads = 4;
  std::latch start(kThreads);
  std::vector<std::thread> threads;
  std::vector<int> mismatches(kThreads, 0);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      const TimePoint date = utc(2024y / January / (t + 1), milliseconds(t * 1001));
      const std::string expected = "2024-01-0" + std::to_string(t + 1) + " 00:00:0" + std::to_string(t) + ".00" +
                                   std::to_string(t);
      start.arrive_and_wait();  // overlap the calls as much as possible
      for (int i = 0; i < 500; ++i) {
        if (formatter.stringFromDate(date) != expected) ++mismatches[t];
        auto parsed = formatter.dateFromString(expected);
        if (!parsed || *parsed != date) ++mismatches[t];
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(mismatches, std::vector<int>(kThreads, 0));
}

TEST(DateFormatterCalendarTest, NextMidnightFollowsDaylightSavingChanges) {
  struct Case {
    const char* zone;
    TimePoint date;
    TimePoint expected;
  } cases[] = {
      // Ordinary winter day in Zurich (UTC+1).
      {"Europe/Zurich", utc(2024y / March / 30, 12h), utc(2024y / March / 30, 23h)},
      // 31 March 2024 has 23 hours: it began at 23:00 UTC and ends at 22:00 UTC.
      {"Europe/Zurich", utc(2024y / March / 31, 8h), utc(2024y / March / 31, 22h)},
      {"Europe/Zurich", utc(2024y / March / 31, 22h) - 1ms, utc(2024y / March / 31, 22h)},
      // Exactly at midnight the next one is a full day later.
      {"Europe/Zurich", utc(2024y / March / 31, 22h), utc(2024y / April / 1, 22h)},
      // 27 October 2024 has 25 hours; 00:30 UTC is in the first 02:30.
      {"Europe/Zurich", utc(2024y / October / 27, 30min), utc(2024y / October / 27, 23h)},
      // São Paulo skipped its midnight on 4 November 2018: the day began at 01:00 (-02).
      {"America/Sao_Paulo", utc(2018y / November / 3, 15h), utc(2018y / November / 4, 3h)},
      {"UTC", utc(2024y / December / 31, 23h + 59min), utc(2025y / January / 1)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.zone) + " at " + show(c.date));
    auto next = startOfNextDay(c.date, c.zone);
    ASSERT_TRUE(next) << next.error().describe();
    EXPECT_EQ(show(*next), show(c.expected));
  }
  EXPECT_FALSE(startOfNextDay(utc(2024y / March / 30), "Nowhere/Special"));
}

TEST(DateFormatterCalendarTest, CalendarDateIsTheLocalDate) {
  const TimePoint lateEvening = utc(2024y / March / 31, 22h + 30min);
  struct Case {
    const char* zone;
    year_month_day expected;
  } cases[] = {
      {"UTC", 2024y / March / 31},
      {"Europe/Zurich", 2024y / April / 1},
      {"America/Los_Angeles", 2024y / March / 31},
      {"Pacific/Kiritimati", 2024y / April / 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.zone);
    auto date = calendarDate(lateEvening, c.zone);
    ASSERT_TRUE(date) << date.error().describe();
    EXPECT_EQ(*date, c.expected);
  }
}

// The log calls the helpers without a zone; tests fix the current one.
class CurrentTimeZoneTest : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_TRUE(setCurrentTimeZoneForTesting("")); }
};

TEST_F(CurrentTimeZoneTest, HelpersAndFormattersUseTheCurrentZone) {
  ASSERT_TRUE(setCurrentTimeZoneForTesting("Europe/Zurich"));
  EXPECT_EQ(currentTimeZoneIdentifier(), "Europe/Zurich");
  auto next = startOfNextDay(utc(2024y / March / 31, 8h));
  ASSERT_TRUE(next);
  EXPECT_EQ(*next, utc(2024y / March / 31, 22h));
  EXPECT_EQ(calendarDate(utc(2024y / March / 31, 22h + 30min)).value(), 2024y / April / 1);
  EXPECT_EQ(make("HH:mm", "en_US_POSIX", "").stringFromDate(utc(2024y / July / 1, 12h)), "14:00");

  EXPECT_FALSE(setCurrentTimeZoneForTesting("Nowhere/Special"));
  EXPECT_EQ(currentTimeZoneIdentifier(), "Europe/Zurich");
}

}  // namespace
}  // namespace platform
