#include "foundation/CVNTimeCodeUtility.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <limits>

#include "foundation/TimeCodeMath.h"

namespace foundation {
namespace {

using detail::dropFramesPerMinute;
using detail::floorDiv;
using detail::floorMod;
using detail::saturatingInt64;

struct RateRow {
  VideoRateType code;
  std::string_view name;
  std::string_view bareName;  // also accepted by frameRateFromString; empty for none
  double framesPerSecond;
  bool dropFrameAvailable;
};

constexpr std::array<RateRow, 12> kRates = {{
    {kVideoRateType24p, "24p", "24", 24.0, false},
    {kVideoRateType25p, "25p", "25", 25.0, false},
    {kVideoRateType30p, "30p", "30", 30.0, false},
    {kVideoRateType50p, "50p", "50", 50.0, false},
    {kVideoRateType60p, "60p", "60", 60.0, false},
    {kVideoRateType25i, "25i", "", 25.0, false},
    {kVideoRateType30i, "30i", "", 30.0, false},
    {kVideoRateType2398p, "23.98p", "23.98", 24000.0 / 1001.0, false},
    {kVideoRateType2997p, "29.97p", "29.97", 30000.0 / 1001.0, true},
    {kVideoRateType5994p, "59.94p", "59.94", 60000.0 / 1001.0, true},
    {kVideoRateType2398i, "23.98i", "", 24000.0 / 1001.0, false},
    {kVideoRateType2997i, "29.97i", "", 30000.0 / 1001.0, true},
}};

const RateRow* findRate(VideoRateType code) {
  auto row = std::find_if(kRates.begin(), kRates.end(), [code](const RateRow& r) { return r.code == code; });
  return row == kRates.end() ? nullptr : &*row;
}

// Measured rates in the order they are tried; the first within 0.01 wins.
struct MeasuredRate {
  double framesPerSecond;
  VideoRateType progressive;
  VideoRateType interlaced;
};

constexpr std::array<MeasuredRate, 8> kMeasuredRates = {{
    {60.0, kVideoRateType60p, kVideoRateType60p},
    {59.94, kVideoRateType5994p, kVideoRateType5994p},
    {50.0, kVideoRateType50p, kVideoRateType50p},
    {30.0, kVideoRateType30p, kVideoRateType30i},
    {29.97, kVideoRateType2997p, kVideoRateType2997i},
    {25.0, kVideoRateType25p, kVideoRateType25i},
    {24.0, kVideoRateType24p, kVideoRateType24p},
    {23.98, kVideoRateType2398p, kVideoRateType2398i},
}};

// Frames in one timecode second: 30 for 29.97, 24 for 23.976.
double nominalRate(double frameRate) { return std::ceil(frameRate); }

std::string formatTimeCode(std::int64_t hours, std::int64_t minutes, std::int64_t seconds, std::int64_t frames,
                           bool dropFrame) {
  char text[96];
  std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld%s%02lld", static_cast<long long>(hours),
                static_cast<long long>(minutes), static_cast<long long>(seconds), dropFrame ? ";" : ":",
                static_cast<long long>(frames));
  return text;
}

// Prints a timecode frame count. Counts before zero wrap to the previous day.
std::string timeCodeStringFromCount(std::int64_t count, double frameRate, bool dropFrame) {
  const std::int64_t nominal = saturatingInt64(nominalRate(frameRate));
  if (nominal <= 0) return formatTimeCode(0, 0, 0, 0, dropFrame);
  const std::int64_t totalSeconds = floorDiv(count, nominal);
  return formatTimeCode(floorMod(floorDiv(totalSeconds, 3600), 24), floorMod(floorDiv(totalSeconds, 60), 60),
                        floorMod(totalSeconds, 60), floorMod(count, nominal), dropFrame);
}

std::int64_t timeCodeCountOfSeconds(double seconds, double frameRate, bool dropFrame) {
  const std::int64_t frameNumber = CVNTimeCodeUtility::frameNumberWithDurationInSeconds(seconds, frameRate, dropFrame);
  return CVNTimeCodeUtility::modifiedFrameNumberWithFrameNumber(frameNumber, frameRate, dropFrame);
}

std::int64_t saturatingSubtract(std::int64_t a, std::int64_t b) {
  std::int64_t difference = 0;
  if (__builtin_sub_overflow(a, b, &difference)) {
    return b > 0 ? std::numeric_limits<std::int64_t>::min() : std::numeric_limits<std::int64_t>::max();
  }
  return difference;
}

}  // namespace

double CVNTimeCodeUtility::frameRateForRateType(VideoRateType rateType) {
  const RateRow* row = findRate(rateType);
  return row ? row->framesPerSecond : 1.0;
}

VideoRateType CVNTimeCodeUtility::videoRateTypeWithDouble(double rate, bool interlaced) {
  for (const MeasuredRate& measured : kMeasuredRates) {
    if (std::fabs(rate - measured.framesPerSecond) < 0.01) {
      return interlaced ? measured.interlaced : measured.progressive;
    }
  }
  return kVideoRateType2398p;
}

std::string CVNTimeCodeUtility::stringFromFrameRate(VideoRateType rateType) {
  const RateRow* row = findRate(rateType);
  return row ? std::string(row->name) : "unsupported frame rate";
}

VideoRateType CVNTimeCodeUtility::frameRateFromString(std::string_view name) {
  for (const RateRow& row : kRates) {
    if (name == row.name || (!row.bareName.empty() && name == row.bareName)) return row.code;
  }
  return kVideoRateType2398p;
}

bool CVNTimeCodeUtility::dropFrameAvailableForRate(VideoRateType rateType) {
  const RateRow* row = findRate(rateType);
  return row && row->dropFrameAvailable;
}

std::int64_t CVNTimeCodeUtility::frameNumberWithDurationInSeconds(double seconds, double frameRate, bool dropFrame) {
  // Kept in doubles with floor throughout: a time before zero (an in point of
  // -1.0) stays signed, and huge or NaN inputs saturate instead of overflowing.
  const double t = seconds + 0.0001;
  const double hours = std::floor(t / 3600.0);
  const double afterHours = t - 3600.0 * hours;
  const double minutes = std::floor(afterHours / 60.0);
  const double afterMinutes = afterHours - 60.0 * minutes;
  const double wholeSeconds = std::floor(afterMinutes);
  const double fractionFrames = std::trunc((afterMinutes - wholeSeconds) * frameRate);
  const double frameNumber = std::trunc(fractionFrames + nominalRate(frameRate) * std::floor(t));
  if (!dropFrame) return saturatingInt64(frameNumber);

  const double totalMinutes = 60.0 * hours + minutes;
  const double droppingMinutes = totalMinutes - std::floor(totalMinutes / 10.0);
  const double dropsPerMinute =
      static_cast<double>(dropFramesPerMinute(saturatingInt64(nominalRate(frameRate))));
  return saturatingInt64(frameNumber - dropsPerMinute * droppingMinutes);
}

std::int64_t CVNTimeCodeUtility::modifiedFrameNumberWithFrameNumber(std::int64_t frameNumber, double frameRate,
                                                                    bool dropFrame) {
  if (!dropFrame) return frameNumber;
  const std::int64_t framesPer10Minutes = frameNumberWithDurationInSeconds(600.0, frameRate, true);
  const std::int64_t framesPerMinute = frameNumberWithDurationInSeconds(60.0, frameRate, true);
  // Below one frame a second there is nothing to drop.
  if (framesPer10Minutes <= 0 || framesPerMinute <= 0) return frameNumber;

  const std::int64_t drops = dropFramesPerMinute(saturatingInt64(nominalRate(frameRate)));
  const double tens = std::floor(static_cast<double>(frameNumber) / static_cast<double>(framesPer10Minutes));
  // Floor remainder, so frames before zero count back from the end of a day.
  const std::int64_t inTen = std::max(floorMod(frameNumber, framesPer10Minutes), drops);
  const double skipped =
      static_cast<double>(9 * drops) * tens + static_cast<double>(drops * ((inTen - drops) / framesPerMinute));
  return saturatingInt64(static_cast<double>(frameNumber) + skipped);
}

double CVNTimeCodeUtility::durationInSecondsWithFrameNumber(std::int64_t frameNumber, double frameRate,
                                                            bool dropFrame) {
  const std::int64_t nominal = saturatingInt64(nominalRate(frameRate));
  if (nominal <= 0) return 0.0;
  const std::int64_t count = modifiedFrameNumberWithFrameNumber(frameNumber, frameRate, dropFrame);
  return static_cast<double>(floorMod(count, nominal)) / frameRate + static_cast<double>(floorDiv(count, nominal));
}

std::string CVNTimeCodeUtility::timeCodeStringWithSeconds(double seconds, double frameRate, bool dropFrame) {
  return timeCodeStringFromCount(timeCodeCountOfSeconds(seconds, frameRate, dropFrame), frameRate, dropFrame);
}

std::string CVNTimeCodeUtility::durationTimeCodeStringWithBetween(double firstTimeInSeconds,
                                                                  double secondTimeInSeconds, double frameRate,
                                                                  bool dropFrame) {
  const std::int64_t first = timeCodeCountOfSeconds(firstTimeInSeconds, frameRate, dropFrame);
  const std::int64_t second = timeCodeCountOfSeconds(secondTimeInSeconds, frameRate, dropFrame);
  return timeCodeStringFromCount(saturatingSubtract(second, first), frameRate, dropFrame);
}

std::uint64_t CVNTimeCodeUtility::audioSampleOffsetForFrameDuration(MediaTime frameDuration,
                                                                    std::uint64_t frameNumber) {
  // This exact order of double operations is the cadence every caller shares.
  const double framesPerSecond =
      static_cast<double>(frameDuration.timeScale) / static_cast<double>(frameDuration.value);
  const double samplesPerFrame = 48000.0 / framesPerSecond;
  // A zero, negative or undefined frame duration has no cadence.
  if (!(std::isfinite(samplesPerFrame) && samplesPerFrame > 0.0)) return 0;
  const double offset = std::floor(static_cast<double>(frameNumber) * samplesPerFrame);
  if (offset >= 18446744073709551616.0) return std::numeric_limits<std::uint64_t>::max();
  return static_cast<std::uint64_t>(offset);
}

std::uint64_t CVNTimeCodeUtility::audioSamplesPerFrameForFrameDuration(MediaTime frameDuration,
                                                                       std::uint64_t frameNumber) {
  if (frameNumber == std::numeric_limits<std::uint64_t>::max()) return 0;
  const std::uint64_t start = audioSampleOffsetForFrameDuration(frameDuration, frameNumber);
  const std::uint64_t end = audioSampleOffsetForFrameDuration(frameDuration, frameNumber + 1);
  return end > start ? end - start : 0;
}

}  // namespace foundation
