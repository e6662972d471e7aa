#include "foundation/CVNTimeCodeUtilities.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "foundation/CVNTimeCodeUtility.h"

namespace foundation {
namespace {

TimeCodeFormatDescription track(std::uint32_t quanta, std::uint32_t flags) {
  TimeCodeFormatDescription description;
  description.frameQuanta = quanta;
  description.timeCodeFlags = flags;
  return description;
}

constexpr std::uint32_t kDrop = kTimeCodeFlagDropFrame;
constexpr std::uint32_t k24 = kTimeCodeFlag24HourMax;
constexpr std::uint32_t kNegative = kTimeCodeFlagNegativeTimesOK;

TEST(TimeCodeUtilitiesTest, FrameNumberToSMPTETimeAndText) {
  TimeCodeFormatDescription notTimeCode = track(25, 0);
  notTimeCode.mediaSubType = 0x76696465;  // 'vide'
  struct Case {
    const char* what;
    TimeCodeFormatDescription description;
    std::int32_t frameNumber;
    int hours, minutes, seconds, frames;
    std::uint32_t type;
    const char* text;
  } cases[] = {
      {"not a timecode track", notTimeCode, 1234, 0, 0, 0, 0, 0, "00:00:00:00"},
      {"counts no frames", track(0, k24), 1234, 0, 0, 0, 0, 0, "00:00:00:00"},
      {"25", track(25, 0), 90061 * 25 + 3, 25, 1, 1, 3, 0, "25:01:01:03"},
      {"25, 24-hour", track(25, k24), 90061 * 25 + 3, 1, 1, 1, 3, 0, "01:01:01:03"},
      // One frame before zero is the last frame of the day.
      {"-1, 24-hour", track(25, k24), -1, 23, 59, 59, 24, 0, "23:59:59:24"},
      {"-1, 24-hour, negatives", track(25, k24 | kNegative), -1, 0, 0x80, 0, 1, 0, "-00:00:00:01"},
      {"-1501, no limit", track(25, 0), -1501, 0, 0x81, 0, 1, 0, "-00:01:00:01"},
      {"29.97 drop", track(30, kDrop), 1800, 0, 1, 0, 2, 2, "00:01:00;02"},
      {"29.97 drop, tenth minute", track(30, kDrop), 17982, 0, 10, 0, 0, 2, "00:10:00;00"},
      {"29.97 drop, -1", track(30, kDrop | k24), -1, 23, 59, 59, 29, 2, "23:59:59;29"},
      // Wrapped as a frame, so it never lands on the skipped 23:59:00;01.
      {"29.97 drop, -1799", track(30, kDrop | k24), -1799, 23, 58, 59, 29, 2, "23:58:59;29"},
      {"59.94 drop", track(60, kDrop), 3600, 0, 1, 0, 4, 2, "00:01:00;04"},
      {"59.94 drop, tenth minute", track(60, kDrop), 35964, 0, 10, 0, 0, 2, "00:10:00;00"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const SMPTETime time = CVNTimeCodeUtilities::SMPTETimeFromFrameNumber(c.frameNumber, c.description);
    EXPECT_EQ(time.hours, c.hours);
    EXPECT_EQ(time.minutes, c.minutes);
    EXPECT_EQ(time.seconds, c.seconds);
    EXPECT_EQ(time.frames, c.frames);
    EXPECT_EQ(time.type, c.type);
    const bool recognised = c.description.mediaSubType == kTimeCodeMediaSubType && c.description.frameQuanta > 0;
    EXPECT_EQ(time.flags, recognised ? kSMPTETimeValid : 0u);
    EXPECT_EQ(CVNTimeCodeUtilities::timeCodeStringFromSMPTETime(time), c.text);
  }
}

TEST(TimeCodeUtilitiesTest, SeparatorFollowsDropFrameTypes) {
  SMPTETime time;
  time.hours = 10;
  time.minutes = 9;
  time.seconds = 8;
  time.frames = 7;
  const struct {
    std::uint32_t type;
    const char* text;
  } cases[] = {{2, "10:09:08;07"}, {5, "10:09:08;07"}, {0, "10:09:08:07"}, {4, "10:09:08:07"}};
  for (const auto& c : cases) {
    time.type = c.type;
    EXPECT_EQ(CVNTimeCodeUtilities::timeCodeStringFromSMPTETime(time), c.text) << "type " << c.type;
  }
}

// The track records and the seconds-based utility count drop frames the same
// way, frame by frame over twenty minutes.
TEST(TimeCodeUtilitiesTest, DropFrameAgreesWithModifiedFrameNumber) {
  const struct {
    std::uint32_t quanta;
    double rate;
  } cases[] = {{30, 30000.0 / 1001.0}, {60, 60000.0 / 1001.0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.quanta);
    const TimeCodeFormatDescription description = track(c.quanta, kDrop);
    int failures = 0;
    for (std::int32_t n = 0; n < static_cast<std::int32_t>(1200 * c.quanta) && failures < 5; ++n) {
      const SMPTETime time = CVNTimeCodeUtilities::SMPTETimeFromFrameNumber(n, description);
      const std::int64_t count = ((time.hours * 60 + time.minutes) * 60 + time.seconds) *
                                     static_cast<std::int64_t>(c.quanta) + time.frames;
      if (count != CVNTimeCodeUtility::modifiedFrameNumberWithFrameNumber(n, c.rate, true)) {
        ADD_FAILURE() << "frame " << n << " gives " << CVNTimeCodeUtilities::timeCodeStringFromSMPTETime(time);
        ++failures;
      }
    }
  }
}

}  // namespace
}  // namespace foundation
