#pragma once
// CVNAudioPreview: lets an operator hear a preview's audio. The owner pushes
// (pointer, size) pairs as it renders frames; each write request of the output
// stream plays the oldest pending block or a buffer of silence. At most three
// blocks wait, so preview audio never lags far behind the picture: pushing
// faster than the stream plays skips the oldest.
//
// Pushed bytes are copied at once into blocks made at configuration (a
// session's samples are valid only until its next hand-out), so the owner
// keeps nothing alive. Pushes while unconfigured are dropped: nothing could
// play them.
//
// Threads: push() on the owner's rendering thread, the refill on the stream's
// thread; a mutex serialises them. Configuration and tear-down on the owner's
// thread.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "media/preview/AudioPreviewStream.h"
#include "platform/media/AudioFormat.h"

namespace media {

// The previews' audio: 48 kHz interleaved signed 16-bit PCM.
platform::media::AudioStreamBasicDescription previewAudioFormat(std::uint32_t channels);

class CVNAudioPreview {
 public:
  static constexpr std::size_t kBufferCount = 3;
  static constexpr std::size_t kMaximumPendingBlocks = 3;

  // The default output through the sound server.
  CVNAudioPreview();
  explicit CVNAudioPreview(AudioPreviewStreamFactory streamFactory);
  ~CVNAudioPreview();
  CVNAudioPreview(const CVNAudioPreview&) = delete;
  CVNAudioPreview& operator=(const CVNAudioPreview&) = delete;

  // Creates the stream, primes its three buffers and starts it. Silently
  // unconfigured when no stream can be had (isConfigured tells).
  void configureAudioPreviewWithAudioStreamBasicDescription(const platform::media::AudioStreamBasicDescription& format);
  bool isConfigured() const;
  void addPointer(const std::uint8_t* bytes, std::size_t size);
  // The refill of one buffer, called by the stream's write request.
  void audioQueueOutputCallbackWithAvailableBuffer(AudioPreviewStream& stream);
  void start();
  void pause();
  void stop();
  void destroyAudioPreviewQueue();
  double volume() const { return volume_; }
  void setVolume(double volume);
  std::int32_t preferedAudioSamplesPerAudioBuffer() const { return samplesPerBuffer_; }
  void setPreferedAudioSamplesPerAudioBuffer(std::int32_t samples) { samplesPerBuffer_ = samples; }

 private:
  struct Block {
    std::vector<std::uint8_t> bytes;
    std::size_t size = 0;
  };

  const AudioPreviewStreamFactory streamFactory_;
  std::unique_ptr<AudioPreviewStream> stream_;
  // Stream buffers, used in turn; the stream copies on enqueue, so one slot
  // would do, but three keep each refill's bytes intact until it is queued.
  std::array<std::vector<std::uint8_t>, kBufferCount> buffers_;
  std::size_t nextBuffer_ = 0;  // the stream's thread only

  mutable std::mutex mutex_;
  std::array<Block, kMaximumPendingBlocks> blocks_;  // guarded by mutex_
  std::size_t oldest_ = 0;                           // guarded by mutex_
  std::size_t pending_ = 0;                          // guarded by mutex_
  std::size_t bufferBytes_ = 0;                      // guarded by mutex_; 0 while unconfigured

  double volume_ = 1.0;
  std::int32_t samplesPerBuffer_ = 800;
};

}  // namespace media
