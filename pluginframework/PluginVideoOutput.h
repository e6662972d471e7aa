#pragma once
// An output of a loaded plug-in, seen through the plug-in's output table. The
// plug-in's own thread pulls each frame; the pull reaches the delegate (the
// engine) with the frame's index and the audio count the output's cadence
// asks for. Settings the output does not take answer as stored values.
//
// Threads: control calls from the engine's queues; pulls on the plug-in's thread.

#include <atomic>
#include <memory>
#include <mutex>

#include "pluginframework/CVNPluginABI.h"
#include "pluginframework/CVNVideoOutput.h"

namespace pluginframework {

class PluginLibrary;

class PluginVideoOutput final : public CVNVideoOutput {
 public:
  PluginVideoOutput(std::shared_ptr<PluginLibrary> library, CVNPluginOutput* handle);

  std::string name() const override;
  std::string uniqueID() const override;
  bool outputConnectionAvailable() const override { return true; }
  bool isRunning() const override;
  std::shared_ptr<const CVNDisplayMode> selectedDisplayMode() const override;
  void setSelectedDisplayMode(std::shared_ptr<const CVNDisplayMode> mode) override;
  platform::media::FourCharCode bufferFormat() const override;
  void setBufferFormat(platform::media::FourCharCode format) override;
  std::int32_t videoCardBufferSize() const override { return 3; }
  platform::media::AudioStreamBasicDescription audioStreamBasicDescription() const override;
  std::int32_t keyModeAudioSource() const override { return keyModeAudioSource_.load(); }
  void setKeyModeAudioSource(std::int32_t source) override { keyModeAudioSource_.store(source); }
  void setNumberOfChannels(std::uint32_t channels) override;
  void setBitsPerChannel(std::uint32_t) override {}
  void setMainOutputAudioStreamBasicDescription(const platform::media::AudioStreamBasicDescription&) override {}
  void setDelegate(CVNVideoOutputDelegate* delegate) override;
  bool startPlayback(platform::Error* error) override;
  void stopPlayback() override { stopPlaybackWithReason(""); }
  void stopPlaybackWithReason(const std::string& reason) override;
  void setVANCOverride(bool) override {}
  double transferPerformanceRatio() const override { return 0.0; }
  void sendFrame(const std::shared_ptr<platform::media::PixelBuffer>&, const std::uint8_t*, std::size_t,
                 const platform::media::SampleBufferRef&, const platform::media::SampleBufferRef&, const VANCPackets&,
                 const platform::media::AudioStreamBasicDescription&) override {}
  // Any setting the plug-in takes, as text; false when it does not know the key.
  bool setSetting(const std::string& key, const std::string& value);

  // From the plug-in's thread.
  bool pull(CVNPluginOutputFrame& frame);

 private:
  const CVNPluginOutputTable& table() const;

  std::shared_ptr<PluginLibrary> library_;
  CVNPluginOutput* const handle_;
  std::atomic<std::int32_t> keyModeAudioSource_{0};
  std::mutex delegateMutex_;
  CVNVideoOutputDelegate* delegate_ = nullptr;  // guarded by delegateMutex_; held during a pull
};

}  // namespace pluginframework
