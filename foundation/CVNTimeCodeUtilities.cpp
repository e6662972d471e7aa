#include "foundation/CVNTimeCodeUtilities.h"

#include <cstdio>

#include "foundation/TimeCodeMath.h"

namespace foundation {

SMPTETime CVNTimeCodeUtilities::SMPTETimeFromFrameNumber(std::int32_t frameNumber,
                                                         const TimeCodeFormatDescription& description) {
  SMPTETime time;
  if (description.mediaSubType != kTimeCodeMediaSubType || description.frameQuanta == 0) return time;

  const std::int64_t quanta = description.frameQuanta;
  const bool dropFrame = (description.timeCodeFlags & kTimeCodeFlagDropFrame) != 0;
  const bool maximum24Hours = (description.timeCodeFlags & kTimeCodeFlag24HourMax) != 0;
  const bool negativeTimesOK = (description.timeCodeFlags & kTimeCodeFlagNegativeTimesOK) != 0;
  const std::int64_t drops = detail::dropFramesPerMinute(quanta);
  const std::int64_t framesPer10Minutes = 600 * quanta - 9 * drops;
  const std::int64_t framesPerMinute = 60 * quanta - drops;

  bool negative = frameNumber < 0;
  std::int64_t count = negative ? -static_cast<std::int64_t>(frameNumber) : frameNumber;
  if (negative && maximum24Hours && !negativeTimesOK) {
    // Wrap the frame (not the timecode) into the day, so that drop frame never
    // lands on a skipped number: -1 is 23:59:59:(quanta - 1).
    const std::int64_t framesPerDay = dropFrame ? 144 * framesPer10Minutes : 86400 * quanta;
    count = detail::floorMod(frameNumber, framesPerDay);
    negative = false;
  }

  if (dropFrame) {
    const std::int64_t inTen = count % framesPer10Minutes;
    std::int64_t skipped = 9 * drops * (count / framesPer10Minutes);
    if (inTen >= 60 * quanta) skipped += drops * ((inTen - 60 * quanta) / framesPerMinute) + drops;
    count += skipped;
    time.type = kSMPTETimeType30Drop;
  }

  const std::int64_t totalSeconds = count / quanta;
  std::int64_t hours = totalSeconds / 3600;
  if (maximum24Hours) hours %= 24;
  time.frames = static_cast<std::int16_t>(count % quanta);
  time.seconds = static_cast<std::int16_t>(totalSeconds % 60);
  time.minutes = static_cast<std::int16_t>((totalSeconds / 60) % 60);
  time.hours = static_cast<std::int16_t>(hours);
  if (negative) time.minutes = static_cast<std::int16_t>(time.minutes | kSMPTEMinutesNegativeBit);
  time.flags = kSMPTETimeValid;
  return time;
}

std::string CVNTimeCodeUtilities::timeCodeStringFromSMPTETime(const SMPTETime& time) {
  const bool negative = (time.minutes & kSMPTEMinutesNegativeBit) != 0;
  // The negative mark is a sign, not 128 minutes.
  const int minutes = negative ? time.minutes & ~kSMPTEMinutesNegativeBit : time.minutes;
  const bool dropFrame = time.type == kSMPTETimeType30Drop || time.type == kSMPTETimeType2997Drop;
  char text[64];
  std::snprintf(text, sizeof text, "%s%02i:%02i:%02i%s%02i", negative ? "-" : "", int{time.hours}, minutes,
                int{time.seconds}, dropFrame ? ";" : ":", int{time.frames});
  return text;
}

}  // namespace foundation
