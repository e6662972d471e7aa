#pragma once
// The audio preview's stream on the sound server: one 16-bit playback stream
// whose target length is three buffers and whose requests come a buffer at a
// time, on the server connection's own thread. Corked until start(); stop()
// drains. A lost server leaves the preview silent, logged once.

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "media/preview/AudioPreviewStream.h"

struct pa_threaded_mainloop;
struct pa_context;
struct pa_stream;

namespace media {

class PulseAudioPreviewStream final : public AudioPreviewStream {
 public:
  // How long connecting to the server and opening the stream may take.
  static constexpr std::chrono::seconds kConnectLimit{2};

  static AudioPreviewStreamFactory factory();
  // Nullptr when there is no server, the format is not 16-bit PCM, or the
  // stream does not open within the limit.
  static std::unique_ptr<PulseAudioPreviewStream> create(const platform::media::AudioStreamBasicDescription& format,
                                                         std::size_t bufferBytes, AudioPreviewWriteRequest writeRequest);
  ~PulseAudioPreviewStream() override;
  PulseAudioPreviewStream(const PulseAudioPreviewStream&) = delete;
  PulseAudioPreviewStream& operator=(const PulseAudioPreviewStream&) = delete;

  int enqueue(const std::uint8_t* bytes, std::size_t count) override;
  bool setVolume(double volume) override;
  void start() override;
  void pause() override;
  void stop() override;

 private:
  class MainloopLock;

  PulseAudioPreviewStream(std::size_t bufferBytes, std::uint32_t channels, AudioPreviewWriteRequest writeRequest);
  bool connect(const platform::media::AudioStreamBasicDescription& format);
  // Waits until the connection or the stream is ready; false when it failed.
  bool waitUntilReady(const bool& ready);
  void stateChanged();
  // The server's request for `writable` bytes (mainloop lock held).
  void requestBuffers(std::size_t writable);
  static void onContextState(pa_context* context, void* self);
  static void onStreamState(pa_stream* stream, void* self);
  static void onWriteRequest(pa_stream* stream, std::size_t bytes, void* self);

  const std::size_t bufferBytes_;
  const std::uint32_t channels_;
  const AudioPreviewWriteRequest writeRequest_;
  pa_threaded_mainloop* mainloop_ = nullptr;
  pa_context* context_ = nullptr;
  pa_stream* stream_ = nullptr;
  // Guarded by the mainloop lock.
  bool requestsEnabled_ = false;
  bool hasPlayed_ = false;
  bool lost_ = false;

  // What the connecting thread waits for; taken inside the mainloop lock, never around it.
  std::mutex stateMutex_;
  std::condition_variable stateCondition_;
  bool contextReady_ = false;  // guarded by stateMutex_
  bool streamReady_ = false;   // guarded by stateMutex_
  bool failed_ = false;        // guarded by stateMutex_
};

}  // namespace media
