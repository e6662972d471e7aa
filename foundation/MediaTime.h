#pragma once
// Small value types for media timing shared by the timecode utilities and the
// media readers: a rational media time, the description of a timecode track
// and the SMPTE time record such a track's frame numbers turn into.
// Plain values; no ownership, any thread.

#include <cstdint>

namespace foundation {

// A rational time: value / timeScale seconds (a frame duration of 1001/30000
// is 29.97 frames a second).
struct MediaTime {
  std::int64_t value = 0;
  std::int32_t timeScale = 0;

  friend bool operator==(const MediaTime&, const MediaTime&) = default;
};

// Four-character media subtype of a timecode track: 'tmcd'.
inline constexpr std::uint32_t kTimeCodeMediaSubType = 0x746D6364;

// Bits of TimeCodeFormatDescription::timeCodeFlags.
inline constexpr std::uint32_t kTimeCodeFlagDropFrame = 1;
inline constexpr std::uint32_t kTimeCodeFlag24HourMax = 2;
inline constexpr std::uint32_t kTimeCodeFlagNegativeTimesOK = 4;

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
