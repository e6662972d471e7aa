#pragma once
// Test doubles of the live path: an input whose mode and running state a
// test sets, a delegate that counts callbacks, and makers of small frames.

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "media/sessions/CVNDecompressionSessionDelegate.h"
#include "platform/media/SampleBuffer.h"
#include "pluginframework/CVNVideoInput.h"

namespace media::testing {

class ScriptedInput final : public pluginframework::CVNVideoInput {
 public:
  ScriptedInput(std::string name, std::string uniqueID) : name_(std::move(name)), uniqueID_(std::move(uniqueID)) {}
  std::string name() const override { return name_; }
  std::string uniqueID() const override { return uniqueID_; }
  std::int32_t deviceType() const override { return 4; }
  bool isRunning() const override { return running_.load(); }
  std::shared_ptr<const pluginframework::CVNDisplayMode> selectedDisplayMode() const override;
  void setSelectedDisplayMode(std::shared_ptr<const pluginframework::CVNDisplayMode> mode) override;
  bool startCapture(platform::Error*) override;
  void stopCapture() override { running_.store(false); }
  platform::Dictionary settings() const override { return {}; }
  void setSettings(const platform::Dictionary&) override {}
  void setDelegate(pluginframework::CVNVideoInputDelegate* delegate) override { delegate_.store(delegate); }
  void setIgnoreLogs(bool ignore) override { ignoringLogs_.store(ignore); }
  bool ignoringLogs() const { return ignoringLogs_.load(); }
  pluginframework::CVNVideoInputDelegate* delegate() const { return delegate_.load(); }

 private:
  const std::string name_;
  const std::string uniqueID_;
  std::atomic<bool> running_{false};
  std::atomic<bool> ignoringLogs_{false};
  std::atomic<pluginframework::CVNVideoInputDelegate*> delegate_{nullptr};
  mutable std::mutex mutex_;
  std::shared_ptr<const pluginframework::CVNDisplayMode> mode_;  // guarded by mutex_
};

class CountingDelegate final : public CVNDecompressionSessionDelegate {
 public:
  void decompressionSessionDidInitialize(CVNSessionBase&) override { add("initialized"); }
  void decompressionSessionIsReadyForPlayback(CVNSessionBase&) override { add("ready"); }
  void decompressionSessionDidReadAllFrames(CVNSessionBase&) override { add("read all"); }
  void decompressionSessionDidDecompressAllFrames(CVNSessionBase&) override { add("decompressed all"); }
  bool shouldInverseFieldOrder() override { return false; }
  void ziraSessionDidNotReceiveAnyFramesSince(CVNSessionBase&, double seconds) override;

  std::vector<std::string> calls() const;
  std::size_t count(const std::string& call) const;
  std::vector<double> outages() const;

 private:
  void add(std::string call);
  mutable std::mutex mutex_;
  std::vector<std::string> calls_;  // guarded by mutex_
  std::vector<double> outages_;     // guarded by mutex_
};

// A 16 x 16 '2vuy' frame `index` of a rate of timeScale / frameDuration.
platform::media::SampleBufferRef videoFrame(std::int64_t index, std::int64_t frameDuration, std::int32_t timeScale,
                                            std::size_t width = 16, std::size_t height = 16);
// `frames` frames of 16-bit interleaved PCM.
platform::media::SampleBufferRef audioSamples(std::uint32_t frames, double rate, std::uint32_t channels = 2);

}  // namespace media::testing
