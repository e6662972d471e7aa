#pragma once
// Value types of timecode tracks shared by the timecode utilities and the
// media readers: the description of a timecode track and the SMPTE time
// record such a track's frame numbers turn into. Media times are the
// platform's. Plain values; no ownership, any thread.

#include <cstdint>

#include "platform/media/FormatDescription.h"
#include "platform/media/MediaTime.h"

namespace foundation {

using platform::media::MediaTime;

// Four-character media subtype of a timecode track: 'tmcd'.
inline constexpr std::uint32_t kTimeCodeMediaSubType = 0x746D6364;

// Bits of TimeCodeFormatDescription::timeCodeFlags.
using platform::media::kTimeCodeFlag24HourMax;
using platform::media::kTimeCodeFlagDropFrame;
using platform::media::kTimeCodeFlagNegativeTimesOK;

// What a timecode track says about its samples: frame numbers counted at
// frameQuanta frames per timecode second (30 for 29.97).
struct TimeCodeFormatDescription {
  std::uint32_t mediaSubType = kTimeCodeMediaSubType;
  MediaTime frameDuration;
  std::uint32_t frameQuanta = 0;
  std::uint32_t timeCodeFlags = 0;

  friend bool operator==(const TimeCodeFormatDescription&, const TimeCodeFormatDescription&) = default;
};

// SMPTETime::type values.
inline constexpr std::uint32_t kSMPTETimeType30Drop = 2;
inline constexpr std::uint32_t kSMPTETimeType2997Drop = 5;
// SMPTETime::flags bit.
inline constexpr std::uint32_t kSMPTETimeValid = 1;
// Bit of SMPTETime::minutes that marks a time before zero.
inline constexpr std::int16_t kSMPTEMinutesNegativeBit = 0x80;

// One timecode as hours, minutes, seconds and frames.
struct SMPTETime {
  std::int16_t subframes = 0;
  std::int16_t subframeDivisor = 0;
  std::uint32_t counter = 0;
  std::uint32_t type = 0;
  std::uint32_t flags = 0;
  std::int16_t hours = 0;
  std::int16_t minutes = 0;
  std::int16_t seconds = 0;
  std::int16_t frames = 0;

  friend bool operator==(const SMPTETime&, const SMPTETime&) = default;
};

}  // namespace foundation
