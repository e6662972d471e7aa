#pragma once
// A session that plays a script: pictures queued by the test, a reader that
// answers a display size, field order and frame rate, and records of what the
// item asked of it (buffering, seeks, output rate, audio requests). Its
// initialisation callback runs when the test says, on the caller's thread.

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/items/MediaItemSessionFactory.h"
#include "media/readers/CVNAssetReader.h"
#include "media/sessions/CVNSessionBase.h"

namespace item_fakes {

namespace pm = platform::media;

class ScriptedReader final : public media::CVNAssetReader {
 public:
  ScriptedReader(foundation::Size display, std::int32_t fieldOrder, pm::MediaTime rate);
  foundation::Size displaySize() const override { return display_; }
  std::int32_t fieldOrder() const override { return fieldOrder_; }
  pm::MediaTime frameRateAsCMTime() const override { return rate_; }
  bool setFrameDuration(pm::MediaTime duration) override {
    frameDuration = duration;
    return true;
  }
  pm::MediaTime frameDuration = pm::MediaTime::invalid();

 private:
  foundation::Size display_;
  std::int32_t fieldOrder_;
  pm::MediaTime rate_;
};

class ScriptedSession final : public media::CVNSessionBase {
 public:
  struct Script {
    foundation::Size display{1920, 1080};
    std::int32_t fieldOrder = 1;  // the decoder's: progressive
    pm::MediaTime rate = pm::MediaTime::make(25, 1);
    std::int32_t content = media::kContentVideoOnly;
    bool startsBuffering = true;
    std::optional<std::string> invalidReason = std::nullopt;
    std::int32_t clipType = engine::items::kClipTypeMovie;
    bool stillImage = false;  // the reader is the image reader
  };

  ScriptedSession(DelegateRef delegate, std::shared_ptr<platform::DispatchQueue> queue, Script script);

  // The item's initialisation callback, on the calling thread.
  void initialize();
  void push(pm::SampleBufferRef picture) { pictures_.push_back(std::move(picture)); }
  void setFinished(bool finished) { finished_ = finished; }
  void setElapsedSeconds(double seconds) { elapsed_ = seconds; }

  pm::SampleBufferRef nextVideoSampleBuffer() override;
  pm::SampleBufferRef videoBufferHead() override;
  bool isFinishedPlaying() const override { return finished_; }
  pm::MediaTime playbackDuration() const override {
    return durationSet.isValid() ? durationSet : pm::MediaTime::make(250, 25);
  }
  void setDuration(pm::MediaTime duration) override {
    durationSet = duration;
    media::CVNSessionBase::setDuration(duration);
  }
  pm::MediaTime elapsedTime() const override { return pm::MediaTime::makeWithSeconds(elapsed_, 1000); }
  pm::MediaTime frameRateAsCMTime() const override { return script_.rate; }
  bool startBuffering() override;
  void stopBuffering() override { ++stopBufferingCalls; }
  using media::CVNSessionBase::scrubToTime;
  void scrubToTime(double seconds, bool quickly, bool precisely, bool backwards) override;
  const std::uint8_t* nextAudioSamples(std::uint32_t n) override;
  std::shared_ptr<media::CVNAssetReader> asset() const override { return asset_; }
  bool isValid() const override { return script_.content != media::kContentNothing; }

  pm::MediaTime durationSet = pm::MediaTime::invalid();
  // Whether the playback time was held when the item last took or peeked.
  bool heldPlaybackTime = false;
  int startBufferingCalls = 0;
  int stopBufferingCalls = 0;
  std::vector<double> seeks;
  std::vector<std::uint32_t> audioRequests;
  const std::shared_ptr<ScriptedReader>& reader() const { return reader_; }
  std::int32_t clipType() const { return script_.clipType; }

 private:
  Script script_;
  std::shared_ptr<ScriptedReader> reader_;
  std::shared_ptr<media::CVNAssetReader> asset_;
  std::deque<pm::SampleBufferRef> pictures_;
  bool finished_ = false;
  double elapsed_ = 0;
  std::vector<std::uint8_t> audio_ = std::vector<std::uint8_t>(8192);
};

class ScriptedLiveControls final : public engine::items::LiveInputControls {
 public:
  void setWaitForActionCompletionCallback(bool wait) override { waitsForAction = wait; }
  void setPlayForever(bool value) override { forever = value; }
  bool playForever() const override { return forever; }
  std::string ziraSourceName() const override { return "Camera 1"; }
  bool waitsForAction = false;
  bool forever = false;
};

// A factory whose sessions are scripted; `made` receives each one.
engine::items::MediaItemSessionFactory scriptedFactory(ScriptedSession::Script script,
                                                       std::shared_ptr<ScriptedSession>* made,
                                                       std::shared_ptr<ScriptedLiveControls>* liveControls = nullptr);

// A picture of this size and format at frame `index` of 25 fps, its rows
// filled with `shade`.
pm::SampleBufferRef picture(std::size_t width, std::size_t height, pm::FourCharCode format, std::int64_t index,
                            std::uint8_t shade = 0x40);

}  // namespace item_fakes
