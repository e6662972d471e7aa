#include "media/preview/PulseAudioPreviewStream.h"

#include <pulse/pulseaudio.h>

#include "platform/Clock.h"
#include "platform/Diagnostics.h"

namespace media {

// Takes the mainloop lock unless the caller runs on the mainloop's thread,
// where callbacks already hold it.
class PulseAudioPreviewStream::MainloopLock {
 public:
  explicit MainloopLock(pa_threaded_mainloop* mainloop)
      : mainloop_(pa_threaded_mainloop_in_thread(mainloop) ? nullptr : mainloop) {
    if (mainloop_) pa_threaded_mainloop_lock(mainloop_);
  }
  ~MainloopLock() {
    if (mainloop_) pa_threaded_mainloop_unlock(mainloop_);
  }
  MainloopLock(const MainloopLock&) = delete;
  MainloopLock& operator=(const MainloopLock&) = delete;

 private:
  pa_threaded_mainloop* mainloop_;
};

AudioPreviewStreamFactory PulseAudioPreviewStream::factory() {
  return [](const platform::media::AudioStreamBasicDescription& format, std::size_t bufferBytes,
            AudioPreviewWriteRequest writeRequest) -> std::unique_ptr<AudioPreviewStream> {
    return create(format, bufferBytes, std::move(writeRequest));
  };
}

std::unique_ptr<PulseAudioPreviewStream> PulseAudioPreviewStream::create(
    const platform::media::AudioStreamBasicDescription& format, std::size_t bufferBytes,
    AudioPreviewWriteRequest writeRequest) {
  if (format.bitsPerChannel != 16 || format.channelsPerFrame == 0 || format.channelsPerFrame > PA_CHANNELS_MAX ||
      format.sampleRate < 1.0 || format.sampleRate > PA_RATE_MAX || bufferBytes == 0) {
    return nullptr;
  }
  std::unique_ptr<PulseAudioPreviewStream> stream(
      new PulseAudioPreviewStream(bufferBytes, format.channelsPerFrame, std::move(writeRequest)));
  if (!stream->connect(format)) return nullptr;
  return stream;
}

PulseAudioPreviewStream::PulseAudioPreviewStream(std::size_t bufferBytes, std::uint32_t channels,
                                                 AudioPreviewWriteRequest writeRequest)
    : bufferBytes_(bufferBytes), channels_(channels), writeRequest_(std::move(writeRequest)) {}

bool PulseAudioPreviewStream::connect(const platform::media::AudioStreamBasicDescription& format) {
  mainloop_ = pa_threaded_mainloop_new();
  if (!mainloop_) return false;
  context_ = pa_context_new(pa_threaded_mainloop_get_api(mainloop_), "Clip Preview");
  if (!context_) return false;
  pa_context_set_state_callback(context_, &PulseAudioPreviewStream::onContextState, this);
  if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) return false;
  if (pa_threaded_mainloop_start(mainloop_) < 0) return false;
  if (!waitUntilReady(contextReady_)) return false;
  {
    const MainloopLock lock(mainloop_);
    pa_sample_spec sampleFormat{PA_SAMPLE_S16LE, static_cast<std::uint32_t>(format.sampleRate),
                        static_cast<std::uint8_t>(format.channelsPerFrame)};
    stream_ = pa_stream_new(context_, "Preview", &sampleFormat, nullptr);
    if (!stream_) return false;
    pa_stream_set_state_callback(stream_, &PulseAudioPreviewStream::onStreamState, this);
    pa_stream_set_write_callback(stream_, &PulseAudioPreviewStream::onWriteRequest, this);
    const auto buffer = static_cast<std::uint32_t>(bufferBytes_);
    pa_buffer_attr attributes{};
    attributes.maxlength = buffer * 4;
    attributes.tlength = buffer * 3;
    attributes.prebuf = buffer;
    attributes.minreq = buffer;
    attributes.fragsize = static_cast<std::uint32_t>(-1);
    if (pa_stream_connect_playback(stream_, nullptr, &attributes, PA_STREAM_START_CORKED, nullptr, nullptr) < 0) {
      return false;
    }
  }
  return waitUntilReady(streamReady_);
}

bool PulseAudioPreviewStream::waitUntilReady(const bool& ready) {
  std::unique_lock lock(stateMutex_);
  auto& clock = platform::Clock::current();
  clock.waitUntil(lock, stateCondition_, clock.now() + kConnectLimit, [&] { return ready || failed_; });
  return ready && !failed_;
}

void PulseAudioPreviewStream::stateChanged() {
  const auto contextState = pa_context_get_state(context_);
  const auto streamState = stream_ ? pa_stream_get_state(stream_) : PA_STREAM_UNCONNECTED;
  const bool failed = !PA_CONTEXT_IS_GOOD(contextState) || (stream_ && !PA_STREAM_IS_GOOD(streamState));
  if (failed && !lost_) {
    lost_ = true;
    // A missing server shows as an unconfigured preview; only a loss while
    // playing is worth a line.
    if (hasPlayed_) platform::reportDiagnostic(platform::DiagnosticLevel::Error, "Audio preview: the sound server was lost");
  }
  const std::lock_guard lock(stateMutex_);
  contextReady_ = contextState == PA_CONTEXT_READY;
  streamReady_ = streamState == PA_STREAM_READY;
  failed_ = failed_ || failed;
  stateCondition_.notify_all();
}

void PulseAudioPreviewStream::onContextState(pa_context*, void* self) {
  static_cast<PulseAudioPreviewStream*>(self)->stateChanged();
}

void PulseAudioPreviewStream::onStreamState(pa_stream*, void* self) {
  static_cast<PulseAudioPreviewStream*>(self)->stateChanged();
}

void PulseAudioPreviewStream::onWriteRequest(pa_stream*, std::size_t bytes, void* self) {
  static_cast<PulseAudioPreviewStream*>(self)->requestBuffers(bytes);
}

void PulseAudioPreviewStream::requestBuffers(std::size_t writable) {
  // Requests before start() are the priming, which the preview does itself.
  if (!requestsEnabled_ || lost_) return;
  for (std::size_t n = writable / bufferBytes_; n > 0; --n) writeRequest_(*this);
}

PulseAudioPreviewStream::~PulseAudioPreviewStream() {
  if (!mainloop_) return;
  {
    const MainloopLock lock(mainloop_);
    if (stream_) {
      pa_stream_set_write_callback(stream_, nullptr, nullptr);
      pa_stream_set_state_callback(stream_, nullptr, nullptr);
      pa_stream_disconnect(stream_);
      pa_stream_unref(stream_);
      stream_ = nullptr;
    }
    if (context_) {
      pa_context_set_state_callback(context_, nullptr, nullptr);
      pa_context_disconnect(context_);
    }
  }
  pa_threaded_mainloop_stop(mainloop_);
  if (context_) pa_context_unref(context_);
  pa_threaded_mainloop_free(mainloop_);
}

int PulseAudioPreviewStream::enqueue(const std::uint8_t* bytes, std::size_t count) {
  const MainloopLock lock(mainloop_);
  // Silence without a server; the loss was logged once.
  if (lost_) return 0;
  return pa_stream_write(stream_, bytes, count, nullptr, 0, PA_SEEK_RELATIVE);
}

bool PulseAudioPreviewStream::setVolume(double volume) {
  const MainloopLock lock(mainloop_);
  if (lost_) return false;
  pa_cvolume volumes;
  pa_cvolume_set(&volumes, static_cast<unsigned>(channels_), pa_sw_volume_from_linear(volume));
  pa_operation* operation =
      pa_context_set_sink_input_volume(context_, pa_stream_get_index(stream_), &volumes, nullptr, nullptr);
  if (!operation) return false;
  pa_operation_unref(operation);
  return true;
}

void PulseAudioPreviewStream::start() {
  const MainloopLock lock(mainloop_);
  if (lost_) return;
  const bool resuming = !requestsEnabled_;
  requestsEnabled_ = true;
  hasPlayed_ = true;
  if (pa_operation* operation = pa_stream_cork(stream_, 0, nullptr, nullptr)) pa_operation_unref(operation);
  // After a drain the server asks for nothing until room is written into.
  if (resuming) {
    const std::size_t writable = pa_stream_writable_size(stream_);
    if (writable != static_cast<std::size_t>(-1)) requestBuffers(writable);
  }
}

void PulseAudioPreviewStream::pause() {
  const MainloopLock lock(mainloop_);
  if (lost_) return;
  if (pa_operation* operation = pa_stream_cork(stream_, 1, nullptr, nullptr)) pa_operation_unref(operation);
}

void PulseAudioPreviewStream::stop() {
  const MainloopLock lock(mainloop_);
  if (lost_) return;
  requestsEnabled_ = false;
  if (pa_operation* operation = pa_stream_drain(stream_, nullptr, nullptr)) pa_operation_unref(operation);
}

}  // namespace media
