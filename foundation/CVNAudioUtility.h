#pragma once
// Audio helpers of the media layer: comparing and storing audio stream
// descriptions (as property-list dictionaries) and the audio sample cadence of
// video frames. Class operations only; reentrant.

#include <cstdint>

#include "platform/media/AudioFormat.h"
#include "platform/Value.h"

namespace foundation {

using platform::media::AudioStreamBasicDescription;

class CVNAudioUtility {
 public:
  CVNAudioUtility() = delete;

  // Equal in every field but the reserved one (sample rates compared as doubles).
  static bool isAudioFormat(const AudioStreamBasicDescription& format, const AudioStreamBasicDescription& other);

  // Eight keys: "SampleRate" (real) and the seven unsigned 32-bit fields;
  // the reserved field is not stored.
  static platform::Dictionary dictionaryFromAudioStreamBasicDescription(const AudioStreamBasicDescription& format);
  // Starts from all zeros; a missing or non-numeric key reads as 0. The sample
  // rate is stored at single precision, so it comes back rounded to float.
  static AudioStreamBasicDescription audioStreamBasicDescriptionFromDictionary(const platform::Dictionary& dictionary);

  // The first audio sample of video frame n: floor(rate × n / fps). Results
  // that are negative, not finite (fps of 0) or beyond 64 bits clamp to 0 or
  // the largest value instead of being undefined.
  static std::uint64_t audioSampleOffsetForFrameNumber(std::int32_t frameNumber, std::int32_t audioSampleRate,
                                                       double framesPerSeconds);
  // Samples in frame n: offset(n + 1) − offset(n), kept to 32 bits.
  static std::uint32_t audioSamplesCountForFrameNumber(std::int32_t frameNumber, std::int32_t audioSampleRate,
                                                       double framesPerSeconds);
};

}  // namespace foundation
