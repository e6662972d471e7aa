#pragma once
// Frame-rate codes and timecode arithmetic: names video frame rates by
// integer rate-type codes, converts between seconds, frame numbers and
// timecode strings (with drop-frame timecode for the 29.97 and 59.94 rates),
// and gives the 48 kHz audio sample cadence of a video frame rate.
//
// Stateless: class operations only, callable from any thread. Every input is
// accepted: times before zero count back from midnight (one frame before 0 is
// the last frame of the day), and rates that cannot carry a timecode (0, NaN)
// give zero fields instead of failing.

#include <cstdint>
#include <string>
#include <string_view>

#include "foundation/TimeCodeTypes.h"

namespace foundation {

// A video frame-rate code: 2997 is 29.97 progressive, 29971 29.97 interlaced.
using VideoRateType = std::uint64_t;

inline constexpr VideoRateType kVideoRateType24p = 24;
inline constexpr VideoRateType kVideoRateType25p = 25;
inline constexpr VideoRateType kVideoRateType30p = 30;
inline constexpr VideoRateType kVideoRateType50p = 50;
inline constexpr VideoRateType kVideoRateType60p = 60;
inline constexpr VideoRateType kVideoRateType25i = 251;
inline constexpr VideoRateType kVideoRateType30i = 301;
inline constexpr VideoRateType kVideoRateType2398p = 2398;
inline constexpr VideoRateType kVideoRateType2997p = 2997;
inline constexpr VideoRateType kVideoRateType5994p = 5994;
inline constexpr VideoRateType kVideoRateType2398i = 23381;
inline constexpr VideoRateType kVideoRateType2997i = 29971;

class CVNTimeCodeUtility {
 public:
  CVNTimeCodeUtility() = delete;

  // Frames per second of a code; 1.0 for an unknown code.
  static double frameRateForRateType(VideoRateType rateType);
  // The code of a measured rate (within 0.01); 2398 when nothing matches.
  static VideoRateType videoRateTypeWithDouble(double rate, bool interlaced);
  // "29.97p", "25i", ...; "unsupported frame rate" for an unknown code.
  static std::string stringFromFrameRate(VideoRateType rateType);
  // Inverse of stringFromFrameRate (progressive rates also without the "p");
  // exact comparison, 2398 for anything else.
  static VideoRateType frameRateFromString(std::string_view name);
  static bool dropFrameAvailableForRate(VideoRateType rateType);

  // Frame number of a time: timecode seconds of nominal frames plus the
  // fraction at the real rate, less the numbers drop frame skips.
  static std::int64_t frameNumberWithDurationInSeconds(double seconds, double frameRate, bool dropFrame);
  // Frame number to timecode frame count (nominal frames since midnight,
  // skipped numbers included).
  static std::int64_t modifiedFrameNumberWithFrameNumber(std::int64_t frameNumber, double frameRate,
                                                         bool dropFrame);
  static double durationInSecondsWithFrameNumber(std::int64_t frameNumber, double frameRate, bool dropFrame);
  // "hh:mm:ss:ff", or "hh:mm:ss;ff" with drop frame; hours wrap at 24.
  static std::string timeCodeStringWithSeconds(double seconds, double frameRate, bool dropFrame);
  // Timecode of secondTimeInSeconds - firstTimeInSeconds; a negative
  // difference wraps like a time of day (one frame short of 24 hours).
  static std::string durationTimeCodeStringWithBetween(double firstTimeInSeconds, double secondTimeInSeconds,
                                                       double frameRate, bool dropFrame);

  // 48 kHz samples before frame `frameNumber` at the rate 1 / frameDuration.
  static std::uint64_t audioSampleOffsetForFrameDuration(MediaTime frameDuration, std::uint64_t frameNumber);
  // 48 kHz samples of frame `frameNumber` (1601, 1602, 1601, 1602, 1602 at 29.97).
  static std::uint64_t audioSamplesPerFrameForFrameDuration(MediaTime frameDuration, std::uint64_t frameNumber);
};

}  // namespace foundation
