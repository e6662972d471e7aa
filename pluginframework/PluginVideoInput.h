#pragma once
// A device input of a loaded plug-in, seen through the plug-in's input table.
// Captured frames arrive from the plug-in's capture thread and leave as
// sample buffers to the delegate: the picture as it came (the host's shared
// buffer), 16-bit PCM audio, captions as a 'c708' sample and ancillary data
// as a 436M sample. A frame whose picture does not match the declared mode
// and format is dropped with a log line.
//
// Threads: control calls from any thread; frames on the capture thread.

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "pluginframework/CVNPluginABI.h"
#include "pluginframework/CVNVideoInput.h"

namespace pluginframework {

class PluginLibrary;

class PluginVideoInput final : public CVNVideoInput {
 public:
  PluginVideoInput(std::shared_ptr<PluginLibrary> library, CVNPluginInput* handle, std::int32_t deviceType);

  std::string name() const override;
  std::string uniqueID() const override;
  std::int32_t deviceType() const override { return deviceType_; }
  bool isRunning() const override;
  std::shared_ptr<const CVNDisplayMode> selectedDisplayMode() const override;
  void setSelectedDisplayMode(std::shared_ptr<const CVNDisplayMode> mode) override;
  bool startCapture(platform::Error* error) override;
  void stopCapture() override { stopCaptureWithReason(""); }
  void stopCaptureWithReason(const std::string& reason) override;
  platform::Dictionary settings() const override;
  void setSettings(const platform::Dictionary& settings) override;
  void setDelegate(CVNVideoInputDelegate* delegate) override;
  void setIgnoreLogs(bool ignore) override;
  std::uint32_t audioChannels() const override;
  std::uint32_t bufferFormat() const override;

  // From the plug-in's capture thread.
  void deliver(const CVNPluginInputFrame& frame);
  void formatChanged();
  void connectionChanged();

 private:
  const CVNPluginInputTable& table() const;

  std::shared_ptr<PluginLibrary> library_;
  CVNPluginInput* const handle_;
  const std::int32_t deviceType_;
  // Held while a frame is handed on, so a delegate cleared is not called after.
  std::mutex delegateMutex_;
  CVNVideoInputDelegate* delegate_ = nullptr;  // guarded by delegateMutex_
  mutable std::mutex settingsMutex_;
  platform::Dictionary settings_;  // guarded by settingsMutex_
  std::uint16_t captionSequence_ = 0;          // capture thread only
};

}  // namespace pluginframework
