#pragma once
// A timecode value: a frame number at a frame rate, with or without drop
// frame. Its text is "HH:MM:SS:FF" (";" before the frames with drop frame);
// hours wrap at 24. Timecode samples hold the frame number as 4 bytes,
// big-endian, in a 'tmcd' sample, as timecode tracks of movie files store it.
// Drop frame applies to rates near 29.97 and 59.94 (2 and 4 numbers skipped
// at each minute that is not a tenth minute). Immutable value; any thread.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/media/FormatDescription.h"
#include "platform/media/SampleBuffer.h"

namespace pluginframework {

class CVNTimeValue {
 public:
  // None for text that is not a timecode at the rate (fields out of range, a
  // number drop frame skips, a rate below 1).
  static std::optional<CVNTimeValue> initWithString(std::string_view text, double framesPerSecond, bool isDropFrame);
  // Frame numbers before zero count back from midnight.
  static CVNTimeValue initWithFrameNumber(std::int64_t frameNumber, double framesPerSecond, bool isDropFrame);
  // The frame at `seconds` of real time (rounded to the nearest frame).
  static CVNTimeValue timeValueWithSeconds(double seconds, double framesPerSecond, bool isDropFrame);
  // From a 'tmcd' sample: its 4-byte big-endian frame number, the rate and
  // drop-frame flag of its format description. None when the sample is not one.
  static std::optional<CVNTimeValue> timeValueWithTimecodeSampleBuffer(const platform::media::SampleBuffer& sample);

  // A one-sample 'tmcd' buffer at `pts` lasting one frame of the description.
  platform::media::SampleBufferRef createTimecodeSampleBufferWithPTS(
      platform::media::MediaTime pts, const platform::media::FormatDescriptionRef& timecodeFormatDescription) const;
  // A 'tmcd' description for this value's rate: frame duration, quanta
  // (the nominal rate) and the drop-frame and 24-hour flags.
  platform::media::FormatDescriptionRef createTimecodeFormatDescription() const;

  std::int64_t frameNumber() const { return frameNumber_; }
  double framesPerSecond() const { return framesPerSecond_; }
  bool isDropFrame() const { return isDropFrame_; }
  // Real seconds: frame number / rate.
  double seconds() const;
  std::string string() const;
  // The frame number as 4 bytes, big-endian.
  std::vector<std::uint8_t> dataRepresentation() const;

  // Nominal frames a timecode second (30 for 29.97).
  static std::int64_t nominalRate(double framesPerSecond);

 private:
  CVNTimeValue(std::int64_t frameNumber, double framesPerSecond, bool isDropFrame);
  std::int64_t frameNumber_;
  double framesPerSecond_;
  bool isDropFrame_;
};

}  // namespace pluginframework
