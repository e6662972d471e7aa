#pragma once
// Converts a live input's interleaved PCM (16- or 32-bit integer, 32-bit
// float, any channel count and rate) to the session's output format with
// libswresample. No converter exists while both formats are equal: the bytes
// are then copied as they are. One thread at a time.

#include <cstdint>
#include <memory>

#include "platform/media/AudioFormat.h"

struct SwrContext;

namespace media {

class LiveAudioConverter {
 public:
  LiveAudioConverter();
  ~LiveAudioConverter();
  LiveAudioConverter(const LiveAudioConverter&) = delete;
  LiveAudioConverter& operator=(const LiveAudioConverter&) = delete;

  // Rebuilds the converter when either format changed. False when a format
  // cannot be converted (the converter is then absent and convert refuses).
  bool setFormats(const platform::media::AudioStreamBasicDescription& input,
                  const platform::media::AudioStreamBasicDescription& output);
  bool converts() const { return context_ != nullptr; }
  bool usable() const { return usable_; }
  // The most output frames `inputFrames` can give, buffered frames included.
  std::int64_t maximumOutputFrames(std::int64_t inputFrames) const;
  // Frames written to `out`, or a negative error.
  std::int64_t convert(const std::uint8_t* in, std::int64_t inputFrames, std::uint8_t* out, std::int64_t outputFrames);

 private:
  void reset();

  SwrContext* context_ = nullptr;
  bool usable_ = false;
  bool configured_ = false;
  platform::media::AudioStreamBasicDescription input_{};
  platform::media::AudioStreamBasicDescription output_{};
};

}  // namespace media
