// The short duration text and the countdown text with its warning colours.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "app/playlist/CountdownFormatter.h"
#include "app/playlist/TimeFormatter.h"

namespace {

using app::CountdownFormatter;
using app::TimeFormatter;

TEST(TimeFormatterTest, PrintsMinutesAndSecondsAndHoursFromOneHour) {
  const struct {
    double seconds;
    const char* text;
  } cases[] = {
      {59.7, "01:00"},       {61.5, "01:01"},        {3599.0, "59:59"},
      {3599.6, "01:00:00"},  {3600.0, "01:00:00"},   {7200.0, "02:00:00"},
      {86405.0, "24:00:05"}, {-5.0, "00:00"},        {0.0, "00:00"},
      {std::nan(""), "00:00"}, {std::numeric_limits<double>::infinity(), "--:--:--"},
  };
  for (const auto& c : cases) EXPECT_EQ(TimeFormatter::stringForSeconds(c.seconds), c.text) << c.seconds;
  EXPECT_EQ(TimeFormatter::stringForObjectValue(platform::Value(std::int64_t{90})), "01:30");
  EXPECT_EQ(TimeFormatter::stringForObjectValue(platform::Value("90")), "00:00");
}

TEST(CountdownFormatterTest, PrintsTheMagnitudeUpTo99Hours) {
  const struct {
    double seconds;
    const char* text;
  } cases[] = {
      {0.0, "00:00:00"},      {754.0, "00:12:34"},    {3725.0, "01:02:05"},
      {-5.4, "00:00:05"},     {356400.0, "99:00:00"}, {356400.9, "99:00:00"},
      {360000.0, "--:--:--"}, {std::nan(""), "--:--:--"}, {1e30, "--:--:--"},
  };
  for (const auto& c : cases) EXPECT_EQ(CountdownFormatter::stringForSeconds(c.seconds), c.text) << c.seconds;
  EXPECT_EQ(CountdownFormatter::stringForObjectValue(platform::Value("12")), "00:00:00");
}

TEST(CountdownFormatterTest, ColoursTheEndAndDimsLeadingZeros) {
  const CountdownFormatter formatter;
  const struct {
    double seconds;
    app::FormatterColor color;
    std::size_t dimmed;
  } cases[] = {
      {9.9, formatter.tenLeftSecondsColor(), 5},     {10.0, formatter.thirtyLeftSecondsColor(), 5},
      {29.9, formatter.thirtyLeftSecondsColor(), 5}, {30.0, formatter.textColor(), 5},
      {-5.4, formatter.textColor(), 5},              {754.0, formatter.textColor(), 3},
      {3725.0, formatter.textColor(), 1},            {360000.0, formatter.textColor(), 0},
  };
  for (const auto& c : cases) {
    const auto text = formatter.countdownTextForSeconds(c.seconds);
    EXPECT_EQ(text.color, c.color) << c.seconds;
    EXPECT_EQ(text.dimmedCharacters, c.dimmed) << c.seconds;
    EXPECT_DOUBLE_EQ(text.dimmedAlpha, 0.1);
  }
  CountdownFormatter plain;
  plain.setIsColoredCountDown(false);
  EXPECT_FALSE(plain.countdownTextForSeconds(5.0).color.has_value());
}

}  // namespace
