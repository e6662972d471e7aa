#include "foundation/CVNTimeCodeUtility.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace foundation {
namespace {

constexpr double k2398 = 24000.0 / 1001.0;
constexpr double k2997 = 30000.0 / 1001.0;
constexpr double k5994 = 60000.0 / 1001.0;

TEST(TimeCodeUtilityTest, RateTableNamesRatesAndDropFrame) {
  struct Case {
    VideoRateType code;
    const char* name;
    double rate;
    bool dropFrame;
  } cases[] = {
      {24, "24p", 24.0, false},        {25, "25p", 25.0, false},        {30, "30p", 30.0, false},
      {50, "50p", 50.0, false},        {60, "60p", 60.0, false},        {251, "25i", 25.0, false},
      {301, "30i", 30.0, false},       {2398, "23.98p", k2398, false},  {2997, "29.97p", k2997, true},
      {5994, "59.94p", k5994, true},   {23381, "23.98i", k2398, false}, {29971, "29.97i", k2997, true},
      {100, "unsupported frame rate", 1.0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    EXPECT_EQ(CVNTimeCodeUtility::stringFromFrameRate(c.code), c.name);
    EXPECT_DOUBLE_EQ(CVNTimeCodeUtility::frameRateForRateType(c.code), c.rate);
    EXPECT_EQ(CVNTimeCodeUtility::dropFrameAvailableForRate(c.code), c.dropFrame);
    if (c.code != 100) {
      EXPECT_EQ(CVNTimeCodeUtility::frameRateFromString(c.name), c.code);
    }
  }
}

TEST(TimeCodeUtilityTest, FrameRateFromStringIsExactWithBareProgressiveNames) {
  struct Case {
    const char* name;
    VideoRateType code;
  } cases[] = {
      {"29.97i", 29971}, {"29.97 i", 2398}, {"29.97", 2997}, {"59.94", 5994}, {"24", 24},
      {"25", 25},        {"30", 30},        {"50", 50},      {"60", 60},      {"23.98", 2398},
      {"25I", 2398},     {"", 2398},        {"24p ", 2398},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(CVNTimeCodeUtility::frameRateFromString(c.name), c.code);
  }
}

TEST(TimeCodeUtilityTest, VideoRateTypeMatchesWithinAHundredthAndFallsBackTo2398) {
  struct Case {
    double rate;
    bool interlaced;
    VideoRateType code;
  } cases[] = {
      {29.975, true, 29971}, {k2997, false, 2997}, {30.0, true, 301},    {30.009, false, 30},
      {25.0, true, 251},     {25.0, false, 25},    {k2398, true, 23381}, {23.976, false, 2398},
      {60.0, true, 60},      {59.94, true, 5994},  {50.0, true, 50},     {24.0, true, 24},
      {100.0, false, 2398},  {29.95, false, 2398},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.rate << (c.interlaced ? " interlaced" : ""));
    EXPECT_EQ(CVNTimeCodeUtility::videoRateTypeWithDouble(c.rate, c.interlaced), c.code);
  }
}

TEST(TimeCodeUtilityTest, SecondsToFrameNumberAndTimeCode) {
  struct Case {
    double seconds;
    double rate;
    bool dropFrame;
    std::int64_t frameNumber;
    const char* timeCode;
  } cases[] = {
      {600.0, k2997, true, 17982, "00:10:00;00"},
      {60.0, k2997, true, 1798, "00:00:59;28"},
      {3600.0, k2997, true, 107892, "01:00:00;00"},
      {1.5, 25.0, false, 37, "00:00:01:12"},
      {90000.0, 25.0, false, 2250000, "01:00:00:00"},  // hours wrap at 24
      {12.0, 0.0, false, 0, "00:00:00:00"},
      {12.0, 0.0, true, 0, "00:00:00;00"},
      // Four numbers a minute at 59.94, two at 29.97.
      {60.0, k5994, true, 3596, "00:00:59;56"},
      {600.0, k5994, true, 35964, "00:10:00;00"},
      {3600.0, k5994, true, 215784, "01:00:00;00"},
      // Times before zero count back from midnight instead of wrapping an
      // unsigned value.
      {-1.0, 25.0, false, -25, "23:59:59:00"},
      {-0.04, 25.0, false, -1, "23:59:59:24"},
      {-1.0, k2997, true, -30, "23:59:59;00"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.seconds << " s at " << c.rate << (c.dropFrame ? " drop" : ""));
    EXPECT_EQ(CVNTimeCodeUtility::frameNumberWithDurationInSeconds(c.seconds, c.rate, c.dropFrame), c.frameNumber);
    EXPECT_EQ(CVNTimeCodeUtility::timeCodeStringWithSeconds(c.seconds, c.rate, c.dropFrame), c.timeCode);
  }
}

TEST(TimeCodeUtilityTest, ModifiedFrameNumberSkipsDroppedNumbers) {
  struct Case {
    std::int64_t frameNumber;
    double rate;
    bool dropFrame;
    std::int64_t count;
  } cases[] = {
      {1799, k2997, true, 1799},   {1800, k2997, true, 1802},   {17982, k2997, true, 18000},
      {3599, k5994, true, 3599},   {3600, k5994, true, 3604},   {35964, k5994, true, 36000},
      {-1, k2997, true, -1},       {1800, k2997, false, 1800},  {-5, 25.0, true, -5},
      {-1799, k2997, true, -1801},  // 23:58:59;29, the frame before 23:59:00;02
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.frameNumber << " at " << c.rate << (c.dropFrame ? " drop" : ""));
    EXPECT_EQ(CVNTimeCodeUtility::modifiedFrameNumberWithFrameNumber(c.frameNumber, c.rate, c.dropFrame), c.count);
  }
}

// Walks every frame of twenty minutes either side of midnight: the count goes
// up by one, except at the start of each minute that is not a tenth minute,
// where it skips exactly the dropped numbers and never lands on one.
TEST(TimeCodeUtilityTest, DropFrameCountSkipsOnlyAtMinuteStarts) {
  struct Case {
    double rate;
    std::int64_t nominal;
    std::int64_t drops;
  } cases[] = {{k2997, 30, 2}, {k5994, 60, 4}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rate);
    const std::int64_t framesPerMinute = 60 * c.nominal;
    const std::int64_t span = 2 * (600 * c.nominal - 9 * c.drops);
    std::int64_t previous = CVNTimeCodeUtility::modifiedFrameNumberWithFrameNumber(-span - 1, c.rate, true);
    int failures = 0;
    for (std::int64_t n = -span; n < span && failures < 5; ++n) {
      const std::int64_t count = CVNTimeCodeUtility::modifiedFrameNumberWithFrameNumber(n, c.rate, true);
      const std::int64_t minute = (count - (count % framesPerMinute + framesPerMinute) % framesPerMinute) /
                                  framesPerMinute;
      const std::int64_t inMinute = count - minute * framesPerMinute;
      const bool dropping = minute % 10 != 0;
      const std::int64_t expectedStep = (dropping && inMinute == c.drops) ? 1 + c.drops : 1;
      if (count - previous != expectedStep || (dropping && inMinute < c.drops)) {
        ADD_FAILURE() << "frame " << n << " count " << count << " after " << previous;
        ++failures;
      }
      previous = count;
    }
  }
}

TEST(TimeCodeUtilityTest, FrameNumberToSeconds) {
  struct Case {
    std::int64_t frameNumber;
    double rate;
    bool dropFrame;
    double seconds;
  } cases[] = {
      {1798, k2997, true, 59.0 + 28.0 / k2997},
      {1800, k2997, true, 60.0 + 2.0 / k2997},
      {3600, k5994, true, 60.0 + 4.0 / k5994},
      {37, 25.0, false, 1.48},
      {-1, 25.0, false, -0.04},
      {100, 0.0, false, 0.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.frameNumber << " at " << c.rate << (c.dropFrame ? " drop" : ""));
    EXPECT_NEAR(CVNTimeCodeUtility::durationInSecondsWithFrameNumber(c.frameNumber, c.rate, c.dropFrame),
                c.seconds, 1e-9);
  }
}

TEST(TimeCodeUtilityTest, DurationStringIsTheDifferenceOfTimeCodes) {
  struct Case {
    double first;
    double second;
    double rate;
    bool dropFrame;
    const char* timeCode;
  } cases[] = {
      {10.0, 70.0, 25.0, false, "00:01:00:00"},
      {0.0, 600.0, k2997, true, "00:10:00;00"},
      {30.0, 90030.0, 25.0, false, "01:00:00:00"},
      {5.0, 5.0, 0.0, true, "00:00:00;00"},
      {1.0, 0.0, 25.0, false, "23:59:59:00"},  // a negative difference wraps like a time of day
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.first << " to " << c.second << " at " << c.rate);
    EXPECT_EQ(CVNTimeCodeUtility::durationTimeCodeStringWithBetween(c.first, c.second, c.rate, c.dropFrame),
              c.timeCode);
  }
}

TEST(TimeCodeUtilityTest, UnusableInputsGiveZeroFieldsWithoutOverflow) {
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  constexpr double kInfinity = std::numeric_limits<double>::infinity();
  EXPECT_EQ(CVNTimeCodeUtility::frameNumberWithDurationInSeconds(kNaN, 25.0, false), 0);
  EXPECT_EQ(CVNTimeCodeUtility::timeCodeStringWithSeconds(kNaN, 25.0, false), "00:00:00:00");
  EXPECT_EQ(CVNTimeCodeUtility::timeCodeStringWithSeconds(10.0, kNaN, true), "00:00:00;00");
  EXPECT_EQ(CVNTimeCodeUtility::timeCodeStringWithSeconds(10.0, -25.0, false), "00:00:00:00");
  EXPECT_EQ(CVNTimeCodeUtility::frameNumberWithDurationInSeconds(1e300, 25.0, false),
            std::numeric_limits<std::int64_t>::max());
  // Only checked for not tripping the sanitizers.
  (void)CVNTimeCodeUtility::timeCodeStringWithSeconds(-kInfinity, k2997, true);
  (void)CVNTimeCodeUtility::durationTimeCodeStringWithBetween(-1e300, 1e300, k5994, true);
  (void)CVNTimeCodeUtility::durationInSecondsWithFrameNumber(std::numeric_limits<std::int64_t>::min(), k2997, true);
}

TEST(TimeCodeUtilityTest, AudioCadenceAt48kHz) {
  struct Case {
    MediaTime frameDuration;
    std::vector<std::uint64_t> samples;  // frames 0, 1, 2, ...
  } cases[] = {
      {MediaTime::make(1001, 30000), {1601, 1602, 1601, 1602, 1602, 1601, 1602, 1601, 1602, 1602}},
      {MediaTime::make(1001, 60000), {800, 801, 801, 801, 801}},
      {MediaTime::make(1, 25), {1920, 1920, 1920}},
      // The shared order of double operations leaves frame 0 one sample short
      // here; other callers count on the same cadence.
      {MediaTime::make(1001, 24000), {2001, 2002, 2002}},
      {MediaTime::make(0, 25), {0, 0}},
      {MediaTime::make(1, 0), {0, 0}},
      {MediaTime::make(-1, 25), {0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.frameDuration.value << "/" << c.frameDuration.timeScale);
    std::uint64_t offset = 0;
    for (std::uint64_t n = 0; n < c.samples.size(); ++n) {
      EXPECT_EQ(CVNTimeCodeUtility::audioSampleOffsetForFrameDuration(c.frameDuration, n), offset) << "frame " << n;
      EXPECT_EQ(CVNTimeCodeUtility::audioSamplesPerFrameForFrameDuration(c.frameDuration, n), c.samples[n])
          << "frame " << n;
      offset += c.samples[n];
    }
  }
  EXPECT_EQ(CVNTimeCodeUtility::audioSamplesPerFrameForFrameDuration(
                {1001, 30000}, std::numeric_limits<std::uint64_t>::max()),
            0u);
}

}  // namespace
}  // namespace foundation
