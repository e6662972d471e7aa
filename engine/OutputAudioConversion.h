#pragma once
// Engine audio converted to the selected output's own format, into a ring of
// 48000 output frames. Each frame's audio is written at the next offset (back
// to 0 when it would not fit) and handed out from there, so it stays readable
// until the ring wraps, about one second later. Made at engine start when the
// two formats differ, dropped at stop. Used by the frame pull only.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "media/audio/AudioConverter.h"
#include "platform/media/AudioFormat.h"

namespace engine {

inline constexpr std::uint32_t kConvertedAudioRingFrames = 48000;

class OutputAudioConversion {
 public:
  // None when no converter exists between the two formats. A channel map the
  // converter refuses is logged and the conversion goes on with its default.
  static std::unique_ptr<OutputAudioConversion> create(const platform::media::AudioStreamBasicDescription& engineFormat,
                                                       const platform::media::AudioStreamBasicDescription& outputFormat);

  // `frames` frames of engine audio as output audio inside the ring; the
  // pointer stays valid until the ring wraps. Frames the converter could not
  // produce are silence.
  const std::uint8_t* convert(const std::uint8_t* engineAudio, std::uint32_t frames);
  // The next write position, in frames.
  std::uint32_t sampleOffset() const { return sampleOffset_; }

 private:
  OutputAudioConversion(std::unique_ptr<media::AudioConverter> converter, std::uint32_t engineBytesPerFrame,
                        std::uint32_t outputBytesPerFrame);

  std::unique_ptr<media::AudioConverter> converter_;
  std::uint32_t engineBytesPerFrame_;
  std::uint32_t outputBytesPerFrame_;
  std::vector<std::uint8_t> ring_;
  std::uint32_t sampleOffset_ = 0;
};

}  // namespace engine
