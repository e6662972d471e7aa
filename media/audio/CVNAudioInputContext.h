#pragma once
// One input of the audio engine: its format, volume and first output
// channel, the sample buffers waiting for its converter, the converter (none
// when the input is already in the format its rings hold), the rings, and
// the state of its alignment to the engine's sync time. Owned by the engine;
// lives on the engine owner's thread.

#include <cstdint>
#include <memory>
#include <vector>

#include "media/audio/AudioConverter.h"
#include "media/buffers/CVNCircularBuffer.h"
#include "platform/media/AudioFormat.h"
#include "platform/media/SampleBuffer.h"
#include "platform/media/SampleBufferQueue.h"

namespace media {

class CVNAudioInputContext {
 public:
  CVNAudioInputContext(const platform::media::AudioStreamBasicDescription& format, double volume,
                       std::uint64_t outputChannelOffset);
  CVNAudioInputContext(const CVNAudioInputContext&) = delete;
  CVNAudioInputContext& operator=(const CVNAudioInputContext&) = delete;

  // The once-token of the alignment after a sync reset: true the first time
  // it is taken, false afterwards until cleared.
  bool takeAudioSyncToken();
  void clearAudioSyncToken() { audioSyncToken_ = false; }

  // false when the queue is full (the buffer is not kept).
  bool enqueue(platform::media::SampleBufferRef buffer);
  // The next waiting buffer (kept until the following call), or nullptr.
  platform::media::SampleBufferRef getNextSampleBufferAndReleaseLastDequeuedSampleBuffer();
  void resetQueue();

  const std::vector<std::uint8_t>& magicCookie() const { return magicCookie_; }
  void setMagicCookie(std::vector<std::uint8_t> cookie) { magicCookie_ = std::move(cookie); }
  double volume() const { return volume_; }
  std::uint64_t outputChannelOffset() const { return outputChannelOffset_; }
  AudioConverter* audioConverter() const { return audioConverter_.get(); }
  void setAudioConverter(std::unique_ptr<AudioConverter> converter) { audioConverter_ = std::move(converter); }
  std::uint64_t rateConversionRemainder() const { return rateConversionRemainder_; }
  void setRateConversionRemainder(std::uint64_t remainder) { rateConversionRemainder_ = remainder; }
  const std::vector<std::unique_ptr<CVNCircularBuffer>>& circularBuffers() const { return circularBuffers_; }
  void setCircularBuffers(std::vector<std::unique_ptr<CVNCircularBuffer>> rings) { circularBuffers_ = std::move(rings); }
  std::uint64_t samplesToDrop() const { return samplesToDrop_; }
  void setSamplesToDrop(std::uint64_t frames) { samplesToDrop_ = frames; }
  const platform::media::AudioStreamBasicDescription& format() const { return format_; }
  void setFormat(const platform::media::AudioStreamBasicDescription& format) { format_ = format; }
  const platform::media::AudioStreamBasicDescription& outputFormat() const { return outputFormat_; }
  void setOutputFormat(const platform::media::AudioStreamBasicDescription& format) { outputFormat_ = format; }

 private:
  bool audioSyncToken_ = false;
  platform::media::SampleBufferQueue bufferQueue_;
  platform::media::SampleBufferRef lastDequeuedSampleBuffer_;
  std::vector<std::uint8_t> magicCookie_;
  double volume_;
  std::uint64_t outputChannelOffset_;
  std::unique_ptr<AudioConverter> audioConverter_;
  std::uint64_t rateConversionRemainder_ = 0;
  std::vector<std::unique_ptr<CVNCircularBuffer>> circularBuffers_;
  std::uint64_t samplesToDrop_ = 0;
  platform::media::AudioStreamBasicDescription format_;
  platform::media::AudioStreamBasicDescription outputFormat_;
};

}  // namespace media
