#pragma once
// Stand-ins around the clip preview pane: a player view whose time, rate and
// load the test sets and which records seeks; an item of any type with plain
// fields; controls that keep what they were last told.

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "app/preview/ClipPreviewControls.h"
#include "app/preview/ClipPreviewItem.h"
#include "media/preview/CVNPlayerView.h"

namespace clip_preview_fakes {

namespace pm = platform::media;

class FakePlayerView final : public media::CVNPlayerView {
 public:
  struct Seek {
    double seconds;
    bool precisely;
    bool backwards;
  };

  // Script.
  bool playable = true;
  double duration = 10.0;
  pm::MediaTime frameDuration = pm::MediaTime::make(1, 25);
  pm::MediaTime time = pm::MediaTime::zero();
  std::optional<std::int32_t> firstFrame;
  float currentRate = 0.0F;
  // Completes loads at once (else the test calls finishLoading).
  bool loadsAtOnce = true;

  // Record.
  std::vector<Seek> seeks;
  std::vector<std::string> loads;
  std::vector<pm::MediaTime> outputFrameDurations;
  int toggles = 0;

  void finishLoading() {
    if (auto handler = std::exchange(handler_, nullptr)) handler();
  }
  void setCurrentSeconds(double seconds) { time = pm::MediaTime::makeWithSeconds(seconds, 600000); }

  void setItemURL(const std::string& path, double, CompletionHandler handler) override { load(path, std::move(handler)); }
  void setZiraSourceName(const std::string& name, CompletionHandler handler) override {
    load("source:" + name, std::move(handler));
  }
  bool isPlayable() const override { return playable; }
  double itemDuration() const override { return duration; }
  void setItemDuration(double seconds) override { duration = seconds; }
  pm::MediaTime itemFrameDuration() const override { return frameDuration; }
  bool itemIsDropFrame() const override { return false; }
  void togglePlayPause() override { ++toggles; }
  pm::MediaTime currentTime() const override { return time; }
  void setVolume(double) override {}
  void seekToTime(double seconds, bool precisely, bool backwards) override {
    seeks.push_back({seconds, precisely, backwards});
  }
  float rate() const override { return currentRate; }
  void setRate(float rate) override { currentRate = rate; }
  media::CVNPlayerViewDelegate* playerViewDelegate() const override { return delegate_; }
  void setPlayerViewDelegate(media::CVNPlayerViewDelegate* delegate) override { delegate_ = delegate; }
  std::optional<std::int32_t> firstTCFrameNumber() const override { return firstFrame; }
  void setOutputFrameDuration(pm::MediaTime duration) override { outputFrameDurations.push_back(duration); }
  void setForceNewSessionCreation(bool) override {}

 private:
  void load(std::string what, CompletionHandler handler) {
    loads.push_back(std::move(what));
    handler_ = std::move(handler);
    if (loadsAtOnce) finishLoading();
  }

  media::CVNPlayerViewDelegate* delegate_ = nullptr;
  CompletionHandler handler_;
};

class FakeItem final : public app::ClipPreviewItem {
 public:
  std::optional<std::filesystem::path> url;
  std::int32_t type = 1;
  double in = -1.0;
  double out = -1.0;
  double mediaDuration = 10.0;
  bool comment = false;
  bool remote = false;
  bool streamed = false;
  std::string sourceName;

  std::optional<std::filesystem::path> resolvedURL() const override { return url; }
  std::int32_t itemType() const override { return type; }
  std::optional<double> framesPerSecond() const override { return 25.0; }
  double inPointInSeconds() const override { return in; }
  double outPointInSeconds() const override { return out; }
  double mediaItemDurationInSeconds() const override { return mediaDuration; }
  double realDurationInSeconds() const override { return (out > 0 ? out : mediaDuration) - (in > 0 ? in : 0.0); }
  void setInPointInSeconds(double seconds) override { in = seconds; }
  void setOutPointInSeconds(double seconds) override { out = seconds; }
  void setMediaItemDurationInSeconds(double seconds) override { mediaDuration = seconds; }
  std::string ziraSourceName() const override { return sourceName; }
  bool isComment() const override { return comment; }
  bool isStreamed() const override { return streamed; }
  bool isRemote() const override { return remote; }
  std::vector<std::string> keyPathsForValueAffectingItemDuration() const override { return {"inPointInSeconds"}; }
  platform::ObservationToken observeKey(std::string key, platform::ObservableObject::KeyCallback callback) override {
    return observers.observeKey(std::move(key), std::move(callback));
  }

  platform::ObservableObject observers;
};

class RecordingControls final : public app::ClipPreviewControls {
 public:
  std::map<app::ClipPreviewField, std::string> texts;
  std::map<app::ClipPreviewControl, bool> enabled;
  std::map<app::ClipPreviewControl, bool> hidden;
  std::string error;
  bool playing = false;
  double sliderMaximum = 0.0;
  double sliderValue = 0.0;
  std::optional<std::string> typedIntoPositionField;
  int paneFocused = 0;

  void setFieldText(app::ClipPreviewField field, const std::string& text) override { texts[field] = text; }
  bool isEditing(app::ClipPreviewField) const override { return false; }
  void setEnabled(app::ClipPreviewControl control, bool on) override { enabled[control] = on; }
  void setHidden(app::ClipPreviewControl control, bool on) override { hidden[control] = on; }
  void setErrorText(const std::string& text) override { error = text; }
  void setPlaying(bool on) override { playing = on; }
  void setOverridenInOutPointChecked(bool) override {}
  void setSliderMaximum(double seconds) override { sliderMaximum = seconds; }
  void setSliderValue(double seconds) override { sliderValue = seconds; }
  void setMarkers(double, double, double) override {}
  void setThumbnail(std::shared_ptr<const nodes::RGBAImage>) override {}
  void focusCurrentPositionField(const std::string& text) override { typedIntoPositionField = text; }
  void focusPane() override { ++paneFocused; }
};

}  // namespace clip_preview_fakes
