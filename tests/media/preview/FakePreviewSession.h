#pragma once
// A scripted session for the player view: the test sets its rate, validity,
// display size, decoded frames and status, and fires its callbacks; it
// records scrubs and the audio asked of it.

#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "media/readers/CVNAssetReader.h"
#include "media/sessions/CVNDecompressionSession.h"
#include "media/sessions/CVNSessionBase.h"
#include "tests/media/sessions/SessionFakes.h"

namespace preview_fakes {

namespace pm = platform::media;

class FakePreviewAsset final : public media::CVNAssetReader {
 public:
  FakePreviewAsset(foundation::Size size, std::int32_t type)
      : CVNAssetReader(media::MediaURL::fileURLWithPath("/clips/fake.mov"), std::string("fake")), size_(size) {
    setAssetType(type);
  }
  foundation::Size displaySize() const override { return size_; }

 private:
  foundation::Size size_;
};

class FakePreviewSession final : public media::CVNSessionBase {
 public:
  struct Scrub {
    double seconds;
    bool quickly;
    bool precisely;
    bool backwards;
  };

  FakePreviewSession(DelegateRef delegate, std::shared_ptr<platform::DispatchQueue> queue)
      : CVNSessionBase(std::move(delegate), std::move(queue)) {}

  // Script.
  bool valid = true;
  pm::MediaTime rate = pm::MediaTime::make(25, 1);
  std::int64_t channels = 0;
  std::shared_ptr<media::CVNAssetReader> reader = std::make_shared<FakePreviewAsset>(foundation::Size{1920, 1080}, 1);
  bool finished = false;

  // Frames at `fps` from frame `first` on, `count` of them, decoded ahead.
  void decodeFrames(std::int64_t first, std::int64_t count) {
    const std::lock_guard lock(mutex_);
    for (std::int64_t i = first; i < first + count; ++i) {
      const auto time = pm::MediaTime::make(i * rate.timeScale, static_cast<std::int32_t>(rate.value));
      frames_.push_back({session_fakes::decodedFrame(time, pm::MediaTime::make(rate.timeScale, static_cast<std::int32_t>(rate.value))), time});
    }
  }
  void initialize() { notifyDelegate(&media::CVNDecompressionSessionDelegate::decompressionSessionDidInitialize); }
  void becomeReady() { notifyDelegate(&media::CVNDecompressionSessionDelegate::decompressionSessionIsReadyForPlayback); }

  std::vector<Scrub> scrubs() const {
    const std::lock_guard lock(mutex_);
    return scrubs_;
  }
  std::vector<std::uint32_t> audioRequests() const {
    const std::lock_guard lock(mutex_);
    return audioRequests_;
  }
  std::size_t framesLeft() const {
    const std::lock_guard lock(mutex_);
    return frames_.size();
  }
  bool discarded() const { return discarded_; }

  // media::CVNSessionBase.
  bool isValid() const override { return valid; }
  pm::MediaTime frameRateAsCMTime() const override { return rate; }
  std::int64_t numberOfAudioChannels() const override { return channels; }
  std::shared_ptr<media::CVNAssetReader> asset() const override { return reader; }
  bool isFinishedPlaying() const override { return finished; }
  pm::MediaTime playbackDuration() const override { return pm::MediaTime::make(10, 1); }
  std::int64_t decodeAheadFrameCount() const override {
    const std::lock_guard lock(mutex_);
    return static_cast<std::int64_t>(frames_.size());
  }
  pm::SampleBufferRef nextVideoSampleBuffer() override {
    const std::lock_guard lock(mutex_);
    if (frames_.empty()) return nullptr;
    const auto [frame, time] = frames_.front();
    frames_.pop_front();
    setPlaybackPTS(time);
    return frame;
  }
  pm::SampleBufferRef videoBufferHead() override {
    const std::lock_guard lock(mutex_);
    return frames_.empty() ? nullptr : frames_.front().first;
  }
  const std::uint8_t* nextAudioSamples(std::uint32_t n) override {
    const std::lock_guard lock(mutex_);
    audioRequests_.push_back(n);
    audio_.assign(std::size_t{n} * 4, 1);
    return audio_.data();
  }
  void scrubToTime(double seconds, bool quickly, bool precisely, bool backwards) override {
    const std::lock_guard lock(mutex_);
    scrubs_.push_back({seconds, quickly, precisely, backwards});
  }
  void discard() override { discarded_ = true; }

 private:
  mutable std::mutex mutex_;
  std::deque<std::pair<pm::SampleBufferRef, pm::MediaTime>> frames_;
  std::vector<Scrub> scrubs_;
  std::vector<std::uint32_t> audioRequests_;
  std::vector<std::uint8_t> audio_;
  std::atomic<bool> discarded_{false};
};

}  // namespace preview_fakes
