#pragma once
// A headless host for the video mixer and the engine: a host delegate that
// answers scripted item dictionaries and records each call with the thread it
// came on, an engine stand-in that records the mixer's reports, an output
// whose settings a test sets, and a renderer that writes each frame's number
// into its pixels and can be made to fail or stall.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/CVNEngineDelegate.h"
#include "engine/mixer/CVNVideoMixerDelegate.h"
#include "engine/render/FrameRenderer.h"
#include "pluginframework/CVNVideoOutput.h"

namespace engine_host {

struct HostCall {
  std::string name;
  std::thread::id thread;
  bool becauseOfError = false;  // nextItemAfterItem only
  bool timestamped = false;
};

class ScriptedHostDelegate final : public engine::CVNEngineDelegate {
 public:
  // Answers in order; once the script is used up, `repeat` answers (none by default).
  void script(std::vector<engine::items::ItemDictionary> items);
  void setRepeat(std::optional<engine::items::ItemDictionary> item);
  void setVersion2(bool version2) { version2_ = version2; }
  void setTimestamps(bool timestamps) { timestamps_ = timestamps; }

  std::optional<engine::items::ItemDictionary> nextItemAfterItem(const engine::items::ItemDictionary* afterItem,
                                                                 bool becauseOfError,
                                                                 platform::Dictionary* info) override;
  bool answersItemsOrStatusChanged() const override { return version2_; }
  void itemsOrStatusChanged(std::int32_t status, const engine::items::ItemDictionary*,
                            const engine::items::ItemDictionary*, const engine::items::ItemDictionary*) override;
  bool answersTimestamps() const override { return timestamps_; }
  void playbackStatusDidChange(std::int32_t status, Timestamp timestamp) override;
  void itemWillChange(const engine::items::ItemDictionary&) override { record("itemWillChange"); }
  void itemDidChange(const engine::items::ItemDictionary&, Timestamp timestamp) override {
    record("itemDidChange", false, timestamp.has_value());
  }
  void itemDidStop(const engine::items::ItemDictionary&, Timestamp timestamp) override {
    record("itemDidStop", false, timestamp.has_value());
  }
  void queuedItemsDidChange(const std::vector<engine::items::ItemDictionary>&) override { record("queuedItemsDidChange"); }

  std::vector<HostCall> calls() const;
  std::vector<std::string> callNames() const;
  std::size_t count(const std::string& name) const;

 private:
  void record(std::string name, bool becauseOfError = false, bool timestamped = false);

  bool version2_ = false;
  bool timestamps_ = false;
  mutable std::mutex mutex_;
  std::deque<engine::items::ItemDictionary> script_;     // guarded by mutex_
  std::optional<engine::items::ItemDictionary> repeat_;  // guarded by mutex_
  std::vector<HostCall> calls_;                          // guarded by mutex_
};

// The engine's side of the mixer: 48 kHz stereo 16-bit audio unless set.
class RecordingEngine final : public engine::mixer::CVNVideoMixerDelegate {
 public:
  void videoMixerStatusDidChange(std::uint64_t status) override;
  void itemsOrStatusChanged(std::int32_t engineStatus, const engine::items::ItemDictionary*,
                            const engine::items::ItemDictionary*, const engine::items::ItemDictionary*) override;
  platform::media::AudioStreamBasicDescription engineASBD() const override { return asbd; }
  std::vector<std::int32_t> engineStatuses() const;

  platform::media::AudioStreamBasicDescription asbd{48000.0, 0x6C70636D, 0, 4, 1, 4, 2, 16, 0};

 private:
  mutable std::mutex mutex_;
  std::vector<std::int32_t> engineStatuses_;  // guarded by mutex_
};

// An output with the settings a test gives it. A test pulls its frames
// (pull), from any thread; like a device, a pull holds the delegate, so
// setDelegate(nullptr) waits for the pull in progress.
class TestOutput final : public pluginframework::CVNVideoOutput {
 public:
  TestOutput(std::shared_ptr<const pluginframework::CVNDisplayMode> mode, platform::media::FourCharCode format)
      : mode_(std::move(mode)), format_(format) {}

  std::string name() const override { return "Test Output"; }
  std::string uniqueID() const override { return "test-output"; }
  bool outputConnectionAvailable() const override { return connectionAvailable; }
  bool isRunning() const override { return running; }
  std::shared_ptr<const pluginframework::CVNDisplayMode> selectedDisplayMode() const override { return mode_; }
  void setSelectedDisplayMode(std::shared_ptr<const pluginframework::CVNDisplayMode> mode) override { mode_ = mode; }
  platform::media::FourCharCode bufferFormat() const override { return format_; }
  void setBufferFormat(platform::media::FourCharCode format) override { format_ = format; }
  std::int32_t videoCardBufferSize() const override { return 3; }
  platform::media::AudioStreamBasicDescription audioStreamBasicDescription() const override { return audioFormat; }
  std::int32_t keyModeAudioSource() const override { return keyModeAudioSource_; }
  void setKeyModeAudioSource(std::int32_t source) override { keyModeAudioSource_ = source; }
  void setNumberOfChannels(std::uint32_t) override {}
  void setBitsPerChannel(std::uint32_t) override {}
  void setMainOutputAudioStreamBasicDescription(const platform::media::AudioStreamBasicDescription&) override {}
  void setDelegate(pluginframework::CVNVideoOutputDelegate* delegate) override;
  bool startPlayback(platform::Error* error) override;
  void stopPlayback() override { running = false; }
  void stopPlaybackWithReason(const std::string& reason) override;
  void setVANCOverride(bool override) override { vancOverride = override; }
  double transferPerformanceRatio() const override { return 0.0; }
  void sendFrame(const std::shared_ptr<platform::media::PixelBuffer>& frame, const std::uint8_t* audio,
                 std::size_t audioFrames, const platform::media::SampleBufferRef&,
                 const platform::media::SampleBufferRef&, const pluginframework::VANCPackets& packets,
                 const platform::media::AudioStreamBasicDescription&) override;
  bool force169() const override { return forces169; }

  // One frame through the delegate; false when there is none or no delegate.
  bool pull(std::uint32_t audioFrames, std::shared_ptr<platform::media::PixelBuffer>* picture = nullptr,
            std::vector<std::int16_t>* audio = nullptr);
  std::vector<std::string> stopReasons() const;
  std::size_t framesSent() const;

  std::atomic<bool> running{false};
  std::atomic<bool> connectionAvailable{true};
  std::atomic<bool> vancOverride{false};
  bool forces169 = false;
  std::optional<std::string> startError;  // set: startPlayback fails with it
  platform::media::AudioStreamBasicDescription audioFormat{};
  std::atomic<std::int64_t> nextFrameIndex{0};
  std::atomic<int> pullsInProgress{0};
  std::atomic<int> delegateChangesAsked{0};  // counted before the change waits for a pull

 private:
  std::shared_ptr<const pluginframework::CVNDisplayMode> mode_;
  platform::media::FourCharCode format_;
  std::int32_t keyModeAudioSource_ = 0;
  mutable std::mutex mutex_;
  pluginframework::CVNVideoOutputDelegate* delegate_ = nullptr;  // guarded by mutex_; held during a pull
  std::vector<std::string> stopReasons_;                         // guarded by mutex_
  std::size_t framesSent_ = 0;                                   // guarded by mutex_
};

// Writes the frame number into the first four bytes of a pool buffer. A test
// may make it fail (no picture) or stall (block until released).
class NumberedFrameRenderer final : public engine::render::FrameRenderer {
 public:
  struct Control {
    std::mutex mutex;
    std::condition_variable changed;
    bool failing = false;
    bool stalling = false;
    std::vector<std::int64_t> begun;  // frame numbers whose render began
  };

  explicit NumberedFrameRenderer(std::shared_ptr<Control> control) : control_(std::move(control)) {}
  bool prepare(const engine::render::RenderTarget& target, std::string* error) override;
  std::shared_ptr<platform::media::PixelBuffer> renderFrame(std::int64_t frameNumber) override;
  void release() override { pool_.reset(); }

 private:
  std::shared_ptr<Control> control_;
  std::shared_ptr<platform::media::PixelBufferPool> pool_;
};

// The frame number a NumberedFrameRenderer wrote; -1 for a black (empty) picture.
std::int64_t frameNumberOf(const platform::media::PixelBuffer& picture);

}  // namespace engine_host
