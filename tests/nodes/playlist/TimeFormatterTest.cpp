#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>

#include "nodes/playlist/CVNTimeFormatter.h"

namespace nodes {
namespace {

constexpr double k2997 = 30000.0 / 1001.0;
constexpr double k5994 = 60000.0 / 1001.0;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();

TEST(TimeFormatterTest, FormatsSecondsAsDocumented) {
  struct Case {
    std::int32_t format;
    double rate;
    bool dropFrame;
    double seconds;
    const char* text;
  } cases[] = {
      // Format 3: timecode.
      {3, 25.0, false, 0.0, "00:00:00:00"},
      {3, 25.0, false, 3661.48, "01:01:01:12"},
      {3, 25.0, false, 90000.0, "25:00:00:00"},  // durations do not wrap at 24 hours
      {3, 25.0, false, 360000.0, "100:00:00:00"},
      {3, 25.0, false, -2.0, "-00:00:02:00"},
      {3, 25.0, false, -0.01, "00:00:00:00"},  // under a frame: no sign
      {3, k2997, false, 60.0, "00:01:00:00"},
      {3, k2997, true, 60.0, "00:00:59;28"},  // 1798 frames: minute 1 skips ;00 and ;01
      {3, k2997, true, 600.0, "00:10:00;00"},
      {3, k5994, true, 60.0, "00:00:59;56"},
      {3, 25.0, true, 10.0, "00:00:10:00"},  // no drop frame at 25
      {3, 30.0, true, 10.0, "00:00:10:00"},  // nor at a whole 30
      {3, 0.0, false, 10.5, "00:00:10:00"},  // rate not known: whole seconds
      {3, -25.0, false, 10.5, "00:00:10:00"},
      {3, kNaN, false, 10.5, "00:00:10:00"},
      {3, 25.0, false, kNaN, "--:--:--:--"},
      {3, 25.0, false, -kInfinity, "--:--:--:--"},
      {7, 25.0, false, 1.5, "00:00:01:12"},  // unknown codes format like 3
      // Format 0: without frames.
      {0, 25.0, false, 3661.48, "01:01:01"},
      {0, 25.0, false, -2.0, "-00:00:02"},
      {0, 25.0, false, -0.5, "00:00:00"},
      {0, k2997, true, 600.0, "00:10:00"},
      {0, 25.0, false, kInfinity, "--:--:--"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "format " << c.format << " rate " << c.rate << " df " << c.dropFrame
                                      << " seconds " << c.seconds);
    CVNTimeFormatter formatter;
    formatter.setFormat(c.format);
    formatter.setFramesPerSeconds(c.rate);
    formatter.setDropFrame(c.dropFrame);
    EXPECT_EQ(formatter.stringForObjectValue(c.seconds), c.text);
  }
}

TEST(TimeFormatterTest, HugeValuesStayWellFormed) {
  CVNTimeFormatter formatter;
  formatter.setFramesPerSeconds(1e300);
  EXPECT_FALSE(formatter.stringForObjectValue(1e300).empty());
  formatter.setFramesPerSeconds(25.0);
  const std::string text = formatter.stringForObjectValue(std::numeric_limits<double>::max());
  ASSERT_GE(text.size(), 11u);
  EXPECT_EQ(text.substr(text.size() - 9, 1), ":");  // "...HH:MM:SS:FF"
  EXPECT_EQ(text.substr(text.size() - 3, 1), ":");
}

TEST(TimeFormatterTest, NumberObjectsFormatOtherObjectsAreRefused) {
  CVNTimeFormatter formatter;
  formatter.setFramesPerSeconds(25.0);
  EXPECT_EQ(formatter.stringForObjectValue(platform::Value(12)), "00:00:12:00");
  EXPECT_EQ(formatter.stringForObjectValue(platform::Value(1.5)), "00:00:01:12");
  EXPECT_EQ(formatter.stringForObjectValue(platform::Value("12")), std::nullopt);
  EXPECT_EQ(formatter.stringForObjectValue(platform::Value()), std::nullopt);
}

// Text reads back to seconds that print as the same text, at every rate and
// in both formats; text that is not a time is refused.
TEST(TimeFormatterTest, TextReadsBackToTheSecondsItStandsFor) {
  struct Setting {
    std::int32_t format;
    double rate;
    bool dropFrame;
  } settings[] = {{3, 25.0, false}, {3, k2997, true}, {3, k5994, true}, {3, 24000.0 / 1001.0, false},
                  {3, 0.0, false},  {0, 25.0, false}, {0, k2997, true}};
  for (const Setting& setting : settings) {
    CVNTimeFormatter formatter;
    formatter.setFormat(setting.format);
    formatter.setFramesPerSeconds(setting.rate);
    formatter.setDropFrame(setting.dropFrame);
    for (const double seconds : {0.0, 1.5, 59.934, 60.0, 600.0, 3661.48, -2.0, 90000.0, 359999.96}) {
      SCOPED_TRACE(::testing::Message() << "format " << setting.format << " rate " << setting.rate << " seconds "
                                        << seconds);
      const std::string text = formatter.stringForObjectValue(seconds);
      const std::optional<double> back = formatter.doubleValueFromString(text, false, false);
      ASSERT_TRUE(back.has_value()) << text;
      EXPECT_EQ(formatter.stringForObjectValue(*back), text);
    }
  }

  CVNTimeFormatter formatter;
  formatter.setFramesPerSeconds(25.0);
  EXPECT_DOUBLE_EQ(*formatter.doubleValueFromString("01:01:01:12", false, false), 3661.48);
  EXPECT_DOUBLE_EQ(*formatter.doubleValueFromString("-00:00:02:00", false, false), -2.0);
  EXPECT_DOUBLE_EQ(*formatter.doubleValueFromString("100:00:00", false, false), 360000.0);
  EXPECT_DOUBLE_EQ(*formatter.doubleValueFromString("00:00:10;05", false, false), 10.2);
  for (const char* refused : {"", "-", "12", "00:00", "aa:00:00:00", "00:60:00:00", "00:00:60:00", "00:00:00:25",
                              "--:--:--:--", "00:00:00:00:00", "00;00:00:00", " 00:00:00", "00:00:00:", "+0:00:00",
                              "9999999999999:00:00"}) {
    EXPECT_EQ(formatter.doubleValueFromString(refused, false, false), std::nullopt) << refused;
  }
}

TEST(TimeFormatterTest, TheOffsetInFramesIsAddedOrTakenAwayOnlyWhenAskedFor) {
  CVNTimeFormatter formatter;
  formatter.setFramesPerSeconds(25.0);
  formatter.setOffsetInFrames(50);
  EXPECT_DOUBLE_EQ(*formatter.doubleValueFromString("00:00:10:00", false, false), 10.0);
  EXPECT_DOUBLE_EQ(*formatter.doubleValueFromString("00:00:10:00", true, false), 12.0);
  EXPECT_DOUBLE_EQ(*formatter.doubleValueFromString("00:00:10:00", true, true), 8.0);
  EXPECT_DOUBLE_EQ(*formatter.doubleValueFromString("00:00:10:00", false, true), 10.0);
}

TEST(TimeFormatterTest, ReadsEntriesAbsoluteOrRelative) {
  struct Case {
    const char* text;
    std::int64_t offsetFrames;
    std::optional<double> maximum;
    std::optional<double> seconds;
    bool isSigned;
  } cases[] = {
      {"=5", 0, std::nullopt, 0.2, false},  // one field: frames
      {"=00:00:10:00", 0, std::nullopt, 10.0, false},
      {"=10:00", 250, std::nullopt, 0.0, false},  // shown with a 10 s offset: entry 10 s is 0, clamped
      {"=20:00", 250, std::nullopt, 10.0, false},
      {"01:02:00", 0, std::nullopt, 62.0, false},  // a bare time is absolute
      {"=90", 0, std::nullopt, 3.6, false},       // long fields carry over
      {"=1:00:00:00", 0, 600.0, 600.0, false},     // clamped to the maximum
      {"+1:00", 250, std::nullopt, 1.0, true},     // relative: no offset
      {"-12", 0, std::nullopt, -0.48, true},
      {"=", 0, std::nullopt, std::nullopt, false},
      {"+1:2:3:4:5", 0, std::nullopt, std::nullopt, false},
      {"=1a", 0, std::nullopt, std::nullopt, false},
  };
  for (const auto& c : cases) {
    CVNTimeFormatter formatter;
    formatter.setFramesPerSeconds(25.0);
    formatter.setOffsetInFrames(c.offsetFrames);
    formatter.setMaximum(c.maximum);
    const auto seconds = formatter.objectValueForEntry(c.text);
    ASSERT_EQ(seconds.has_value(), c.seconds.has_value()) << c.text;
    if (seconds) {
      EXPECT_NEAR(*seconds, *c.seconds, 1e-9) << c.text;
    }
    EXPECT_EQ(formatter.enteredValueIsSigned(), c.isSigned) << c.text;
  }
}

TEST(TimeFormatterTest, APartialEntryAllowsOneLeadingSignAndFourFields) {
  for (const char* text : {"", "=", "+", "-1", "=00:00:", "12;3", "00:00:00:00"}) {
    EXPECT_TRUE(CVNTimeFormatter::isPartialEntryValid(text)) << text;
  }
  for (const char* text : {"==1", "+-1", "1+", "a", "00:00:00:00:", "1.5"}) {
    EXPECT_FALSE(CVNTimeFormatter::isPartialEntryValid(text)) << text;
  }
}

}  // namespace
}  // namespace nodes
