#pragma once
// A device input as the plug-ins present it: name, unique ID, device type,
// running state, selected display mode, connection description, capture
// start and stop, a settings dictionary and a delegate that receives the
// captured frames (the live sources define it). Abstract: inputs come with
// the plug-ins.
//
// Threads: control calls from the live source registry's queue; captured
// frames arrive on the device's capture thread.

#include <cstdint>
#include <memory>
#include <string>

#include "platform/Error.h"
#include "platform/Observable.h"
#include "platform/Value.h"
#include "platform/media/SampleBuffer.h"
#include "pluginframework/CVNDisplayMode.h"

namespace pluginframework {

// One captured frame as the input hands it on: the picture, its audio (16-bit
// interleaved PCM), its captions (a 'c708' sample), its ancillary packets (a
// 436M element) and when it arrived.
struct CVNInputFrame {
  platform::media::SampleBufferRef video;
  platform::media::SampleBufferRef audio;
  platform::media::SampleBufferRef closedCaption;
  platform::media::SampleBufferRef vanc;
  double systemTime = 0.0;
  std::int64_t frameIndex = 0;
};

// What an input calls back with captured frames: live sources extend it.
class CVNVideoInputDelegate {
 public:
  virtual ~CVNVideoInputDelegate() = default;
  // On the capture thread, once per frame.
  virtual void inputDidProduceFrame(const CVNInputFrame& /*frame*/) {}
  virtual void inputFormatDidChange() {}
};

class CVNVideoInput {
 public:
  virtual ~CVNVideoInput() = default;

  virtual std::string name() const = 0;
  virtual std::string uniqueID() const = 0;
  virtual std::int32_t deviceType() const = 0;
  virtual bool isRunning() const = 0;
  virtual std::shared_ptr<const CVNDisplayMode> selectedDisplayMode() const = 0;
  virtual void setSelectedDisplayMode(std::shared_ptr<const CVNDisplayMode> mode) = 0;
  // True when capture started; otherwise false with the reason in `error`.
  virtual bool startCapture(platform::Error* error) = 0;
  virtual void stopCapture() = 0;
  virtual void stopCaptureWithReason(const std::string& /*reason*/) { stopCapture(); }
  // Muted while no session plays the input.
  virtual void setIgnoreLogs(bool /*ignore*/) {}
  // The audio channel count it delivers and its pixel format.
  virtual std::uint32_t audioChannels() const { return 2; }
  virtual std::uint32_t bufferFormat() const { return 0x32767579; }  // '2vuy'

  virtual platform::Dictionary settings() const = 0;
  virtual void setSettings(const platform::Dictionary& settings) = 0;
  // Not owned; the delegate outlives capture (set to nullptr before it goes).
  virtual void setDelegate(CVNVideoInputDelegate* delegate) = 0;

  platform::Observable<std::string>& connectionDescription() { return connectionDescription_; }

 private:
  platform::Observable<std::string> connectionDescription_;
};

}  // namespace pluginframework
