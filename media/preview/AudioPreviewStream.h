#pragma once
// The output stream behind an audio preview: one playback stream of three
// buffers on the computer's default output. The stream asks for audio through
// its write request, one buffer at a time, on a thread of its own; the preview
// answers each request by enqueueing exactly one buffer.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "platform/media/AudioFormat.h"

namespace media {

class AudioPreviewStream {
 public:
  // Enqueue failures the preview does not log: the stream is being reset.
  static constexpr int kEnqueueDuringReset = -66632;

  virtual ~AudioPreviewStream() = default;
  // 0 when the bytes were queued for playback, else an error code.
  virtual int enqueue(const std::uint8_t* bytes, std::size_t count) = 0;
  // false when the server refused the volume.
  virtual bool setVolume(double volume) = 0;
  virtual void start() = 0;
  virtual void pause() = 0;
  // Plays out what is queued, then asks for nothing more until start().
  virtual void stop() = 0;
};

// Called once per buffer wanted, with the stream that wants it; never after
// the stream's destructor has returned.
using AudioPreviewWriteRequest = std::function<void(AudioPreviewStream& stream)>;
// Makes a stream in `format` whose buffers hold `bufferBytes`, corked until
// start(). Nullptr when no stream can be had.
using AudioPreviewStreamFactory = std::function<std::unique_ptr<AudioPreviewStream>(
    const platform::media::AudioStreamBasicDescription& format, std::size_t bufferBytes,
    AudioPreviewWriteRequest writeRequest)>;

}  // namespace media
