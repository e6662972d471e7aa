#pragma once
// An output device as the plug-ins present it: name and unique ID, the
// selected display mode and pixel format, audio settings, start and stop of
// playback, and, for auxiliary outputs, frames pushed to it. The selected
// output pulls each frame from its delegate (the engine) at its own clock.
// Abstract: each plug-in's outputs derive from it (devices come with the
// plug-ins). The observable "connectionDescription" tells operators what the
// output is connected to.
//
// Threads: control calls come from the engine's queues; a device's frame
// pulls run on its own thread.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Error.h"
#include "platform/Observable.h"
#include "platform/media/AudioFormat.h"
#include "platform/media/PixelBuffer.h"
#include "platform/media/SampleBuffer.h"
#include "pluginframework/CVNDisplayMode.h"

namespace captions {
class CVNVANCPacket;
}

namespace pluginframework {

using VANCPackets = std::vector<std::shared_ptr<const captions::CVNVANCPacket>>;

// What an output calls back: the engine extends it with its frame pull.
class CVNVideoOutputDelegate {
 public:
  virtual ~CVNVideoOutputDelegate() = default;
  // On the output's thread, once per frame: `audio` holds `audioFrames`
  // interleaved 16-bit frames to fill. False when there is no frame.
  virtual bool outputWantsFrame(std::int64_t /*frameIndex*/, std::uint32_t /*audioFrames*/,
                                std::shared_ptr<platform::media::PixelBuffer>* /*picture*/,
                                std::int16_t* /*audio*/) {
    return false;
  }
  // Messages of the output for the technical log (0 most severe); `show`
  // asks for them to be shown to the operator.
  virtual void logMessage(const std::string& /*message*/, std::int32_t /*level*/, bool /*show*/) {}
};

class CVNVideoOutput {
 public:
  virtual ~CVNVideoOutput() = default;

  virtual std::string name() const = 0;
  virtual std::string uniqueID() const = 0;
  virtual bool outputConnectionAvailable() const = 0;
  virtual bool isRunning() const = 0;

  virtual std::shared_ptr<const CVNDisplayMode> selectedDisplayMode() const = 0;
  virtual void setSelectedDisplayMode(std::shared_ptr<const CVNDisplayMode> mode) = 0;
  virtual platform::media::FourCharCode bufferFormat() const = 0;
  virtual void setBufferFormat(platform::media::FourCharCode format) = 0;
  // Frames the device buffers ahead.
  virtual std::int32_t videoCardBufferSize() const = 0;

  virtual platform::media::AudioStreamBasicDescription audioStreamBasicDescription() const = 0;
  virtual std::int32_t keyModeAudioSource() const = 0;
  virtual void setKeyModeAudioSource(std::int32_t source) = 0;
  virtual void setNumberOfChannels(std::uint32_t channels) = 0;
  virtual void setBitsPerChannel(std::uint32_t bits) = 0;
  virtual void setMainOutputAudioStreamBasicDescription(const platform::media::AudioStreamBasicDescription& format) = 0;
  // Keying: 0 none, 1 and 2 the two key modes; the key's alpha may come premultiplied.
  virtual std::int32_t keyingMode() const { return 0; }
  virtual bool premultipliedAlpha() const { return true; }
  // Standard-definition pictures shown at 16:9.
  virtual bool force169() const { return false; }
  // Whether the audio heard while keying follows each clip's routing.
  virtual bool supportsAudioRoutingDuringKey() const { return false; }
  virtual std::int32_t defaultKeyModeAudioSource() const { return 0; }

  // Not owned; the delegate outlives playback (set to nullptr before it goes).
  virtual void setDelegate(CVNVideoOutputDelegate* delegate) = 0;
  // True when started; otherwise false with the reason in `error`.
  virtual bool startPlayback(platform::Error* error) = 0;
  virtual void stopPlayback() = 0;
  virtual void stopPlaybackWithReason(const std::string& reason) = 0;
  virtual void setVANCOverride(bool override) = 0;
  // Time spent sending a frame over the frame duration.
  virtual double transferPerformanceRatio() const = 0;

  // A finished frame for an auxiliary output.
  virtual void sendFrame(const std::shared_ptr<platform::media::PixelBuffer>& frame, const std::uint8_t* audioBuffer,
                         std::size_t audioBufferLength, const platform::media::SampleBufferRef& closedCaptionBuffer,
                         const platform::media::SampleBufferRef& timecodeSampleBuffer,
                         const VANCPackets& additionalVANCPackets,
                         const platform::media::AudioStreamBasicDescription& audioStreamBasicDescription) = 0;

  platform::Observable<std::string>& connectionDescription() { return connectionDescription_; }

 private:
  platform::Observable<std::string> connectionDescription_;
};

}  // namespace pluginframework
