#pragma once
// The part of the audio engine a decompression session uses, so a session can
// be tested with an engine that fails to start or records what it was fed.
// `EngineSessionAudio` is the real one, over an offline CVNAudioEngine.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "media/audio/CVNAudioEngine.h"
#include "platform/media/AudioFormat.h"
#include "platform/media/FormatDescription.h"
#include "platform/media/MediaTime.h"
#include "platform/media/SampleBuffer.h"

namespace media {

class SessionAudio {
 public:
  using OutputCallback = std::function<void(const std::uint8_t* bytes, std::size_t byteCount)>;

  virtual ~SessionAudio() = default;
  virtual void setOutputFormat(const platform::media::AudioStreamBasicDescription& format) = 0;
  virtual void addInputWithFormatDescription(const platform::media::FormatDescriptionRef& format, double volume) = 0;
  virtual bool start() = 0;
  // The callback may run on the thread that feeds the engine.
  virtual void setOutputCallback(OutputCallback callback) = 0;
  virtual void processBuffer(const platform::media::SampleBufferRef& buffer, std::size_t input, bool sync) = 0;
  virtual void setSyncTime(platform::media::MediaTime time) = 0;
  virtual void setOutputVolume(double volume) = 0;
};

class EngineSessionAudio final : public SessionAudio {
 public:
  explicit EngineSessionAudio(const std::string& name) { engine_.setName(name); }

  void setOutputFormat(const platform::media::AudioStreamBasicDescription& format) override {
    engine_.setOutputFormat(format);
  }
  void addInputWithFormatDescription(const platform::media::FormatDescriptionRef& format, double volume) override {
    engine_.addInputWithFormatDescription(format, volume);
  }
  bool start() override { return engine_.start(); }
  void setOutputCallback(OutputCallback callback) override { engine_.setOutputCallback(std::move(callback)); }
  void processBuffer(const platform::media::SampleBufferRef& buffer, std::size_t input, bool sync) override {
    engine_.processBuffer(buffer, input, sync);
  }
  void setSyncTime(platform::media::MediaTime time) override { engine_.setSyncTime(time); }
  void setOutputVolume(double volume) override { engine_.setOutputVolume(volume); }

 private:
  CVNAudioEngine engine_;
};

}  // namespace media
