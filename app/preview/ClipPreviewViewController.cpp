#include "app/preview/ClipPreviewViewController.h"

#include <cmath>
#include <filesystem>

namespace app {

namespace pm = platform::media;

namespace {

void setUpFormatter(nodes::CVNTimeFormatter& formatter) {
  formatter.setFormat(nodes::kTimeFormatTimeCode);
  formatter.setFramesPerSeconds(50.0);
  formatter.setDropFrame(false);
  formatter.setMaximum(std::nullopt);
}

}  // namespace

ClipPreviewViewController::ClipPreviewViewController(std::unique_ptr<media::CVNPlayerView> player,
                                                     platform::UserDefaults& defaults)
    : player_(std::move(player)), defaults_(defaults) {
  setUpFormatter(formatterWithOffset_);
  setUpFormatter(formatterWithoutOffset_);
  player_->setPlayerViewDelegate(this);
  tcOffsetObservation_ = defaults_.observeKey(kIgnoreTCOffsetInInspectorKey, [this](const platform::Value&,
                                                                                    const platform::Value&) {
    updateDisplayedTimecodes();
  });
}

ClipPreviewViewController::~ClipPreviewViewController() {
  tcOffsetObservation_.reset();
  itemObservations_.clear();
  player_->setPlayerViewDelegate(nullptr);
}

void ClipPreviewViewController::loadView(ClipPreviewControls* controls) {
  controls_ = controls;
  if (!controls_) return;
  controls_->setPlaying(false);
  controls_->setHidden(ClipPreviewControl::MixPointViewContainer, !showMixPoints_);
  if (delegate_) {
    delegate_->inOutPointInspectorViewControllerDidLoad(*this);
    setShowOverridenInOutPointCheckbox(delegate_->shouldShowOverridenInOutPointCheckbox());
  } else {
    setShowOverridenInOutPointCheckbox(false);
  }
  controls_->setHidden(ClipPreviewControl::SplitButton, !(delegate_ && delegate_->canSplitItems()));
  updateUIForNewInitializedItem();
  reflectTimingUIForItem();
  updateSliderPosition();
}

// ---- Loading ----

void ClipPreviewViewController::setItem(std::shared_ptr<ClipPreviewItem> item) {
  if (item == item_) return;
  itemObservations_.clear();
  item_ = std::move(item);
  ++loadGeneration_;
  if (!item_) {
    playerView_ = nullptr;
    updateUIForNewInitializedItem();
    return;
  }
  for (nodes::CVNTimeFormatter* formatter : {&formatterWithOffset_, &formatterWithoutOffset_}) {
    if (const auto rate = item_->framesPerSecond()) formatter->setFramesPerSeconds(*rate);
    if (const auto dropFrame = item_->dropFrame()) formatter->setDropFrame(*dropFrame);
  }
  if (item_->validationStatus() == kClipPreviewUnplayable) {
    playerView_ = nullptr;
    updateUIForNewInitializedItem();
  } else {
    loadItem();
  }
  reflectTimingUIForItem();
  updateSliderPosition();
  observeItem();
}

void ClipPreviewViewController::observeItem() {
  const auto observe = [this](std::string key, void (ClipPreviewViewController::*action)()) {
    itemObservations_.push_back(
        item_->observeKey(std::move(key), [this, action](const platform::Value&, const platform::Value&) {
          (this->*action)();
        }));
  };
  for (std::string& key : item_->keyPathsForValueAffectingItemDuration()) {
    observe(std::move(key), &ClipPreviewViewController::reflectTimingUIForItem);
  }
  observe("isLocked", &ClipPreviewViewController::updateControlsEnabledStates);
  itemObservations_.push_back(item_->observeKey("audioVolume", [this](const platform::Value&, const platform::Value&) {
    if (playerView_) playerView_->setVolume(item_->audioVolume());
  }));
  if (playerView_) playerView_->setVolume(item_->audioVolume());
  updateControlsEnabledStates();
  observe("validationErrorReason", &ClipPreviewViewController::validationErrorReasonChanged);
}

void ClipPreviewViewController::loadItem() {
  const std::uint64_t generation = loadGeneration_;
  auto completion = [this, generation] {
    if (generation == loadGeneration_) itemLoaded();
  };
  if (item_->itemType() == kClipPreviewLiveSource) {
    player_->setZiraSourceName(item_->ziraSourceName(), std::move(completion));
    return;
  }
  const auto url = item_->resolvedURL();
  player_->setItemURL(url ? url->string() : std::string(), itemResolvedInPointInSeconds(), std::move(completion));
  if (item_->itemType() == kClipPreviewNetworkStream) {
    player_->setItemDuration(item_->mediaItemDurationInSeconds());
    if (controls_) {
      controls_->setHidden(ClipPreviewControl::PlayPauseButton, true);
      controls_->setHidden(ClipPreviewControl::LoadingIndicator, false);
      controls_->setErrorText(kLoadingStreamText);
    }
  }
}

void ClipPreviewViewController::itemLoaded() {
  // No owner sets a frame duration today; a zero one would replace the player's 1/25 s.
  if (outputFrameDuration_.isValid() && outputFrameDuration_.value != 0) {
    player_->setOutputFrameDuration(outputFrameDuration_);
  }
  playerView_ = player_->isPlayable() ? player_.get() : nullptr;
  if (playerView_ && item_) playerView_->setVolume(item_->audioVolume());
  updateUIForNewInitializedItem();
  itemDidInitialize();
}

void ClipPreviewViewController::itemDidInitialize() {
  if (delegate_) delegate_->itemDidInitialize();
}

void ClipPreviewViewController::validationErrorReasonChanged() {
  if (item_->itemType() != kClipPreviewLiveSource || item_->validationStatus() != kClipPreviewValidationFailed) return;
  player_->setForceNewSessionCreation(true);
  ++loadGeneration_;
  loadItem();
  player_->setForceNewSessionCreation(false);
}

bool ClipPreviewViewController::resolvedURLExists() const {
  const auto url = item_ ? item_->resolvedURL() : std::nullopt;
  std::error_code error;
  return url && std::filesystem::exists(*url, error);
}

void ClipPreviewViewController::updateUIForNewInitializedItem() {
  if (!controls_) return;
  controls_->setHidden(ClipPreviewControl::PlayerView, playerView_ == nullptr);
  controls_->setHidden(ClipPreviewControl::ThumbnailView, true);
  controls_->setThumbnail(nullptr);
  controls_->setErrorText("");
  controls_->setHidden(ClipPreviewControl::PlayPauseButton, false);
  controls_->setHidden(ClipPreviewControl::LoadingIndicator, true);
  if (!item_) return;

  const std::int32_t type = item_->itemType();
  if (type != kClipPreviewLiveSource && type != kClipPreviewNetworkStream && !resolvedURLExists()) {
    controls_->setErrorText(item_->isComment() ? ""
                            : item_->isRemote() ? kMediaFileIsRemoteText
                                                : kMediaFileIsOfflineText);
    formatterWithOffset_.setOffsetInFrames(0);
    return;
  }
  if (!playerView_ || !playerView_->isPlayable()) {
    controls_->setErrorText(type == kClipPreviewLiveSource ? kVoviInputNotConnectedText : kMediaFileIsInvalidText);
    formatterWithOffset_.setOffsetInFrames(0);
    return;
  }
  const pm::MediaTime frame = playerView_->itemFrameDuration();
  if (frame.isValid() && frame.value > 0) {
    for (nodes::CVNTimeFormatter* formatter : {&formatterWithOffset_, &formatterWithoutOffset_}) {
      formatter->setFramesPerSeconds(static_cast<double>(frame.timeScale) / static_cast<double>(frame.value));
      formatter->setDropFrame(playerView_->itemIsDropFrame());
    }
    formatterWithOffset_.setOffsetInFrames(frameOffsetFromPlayer());
  } else {
    formatterWithOffset_.setOffsetInFrames(0);
  }
  reflectTimingUIForItem();
  setSliderMaxValue(playerView_->itemDuration());
  if (type == kClipPreviewThumbnailOnly) {
    controls_->setHidden(ClipPreviewControl::ThumbnailView, false);
    controls_->setThumbnail(item_->thumbnail());
  }
}

// ---- Counters ----

std::int64_t ClipPreviewViewController::frameOffsetFromPlayer() const {
  if (!playerView_ || defaults_.boolForKey(kIgnoreTCOffsetInInspectorKey)) return 0;
  return playerView_->firstTCFrameNumber().value_or(0);
}

void ClipPreviewViewController::updateDisplayedTimecodes() {
  formatterWithOffset_.setOffsetInFrames(frameOffsetFromPlayer());
  reflectTimingUIForItem();
}

double ClipPreviewViewController::currentPosition() const {
  if (!playerView_) return 0.0;
  const double seconds = playerView_->currentTime().seconds();
  return std::isfinite(seconds) ? seconds : 0.0;
}

double ClipPreviewViewController::itemResolvedInPointInSeconds() const {
  if (!item_) return -1.0;
  return item_->finalInPointInSeconds().value_or(item_->inPointInSeconds());
}

double ClipPreviewViewController::itemResolvedOutPointInSeconds() const {
  if (!item_) return -1.0;
  return item_->finalOutPointInSeconds().value_or(item_->outPointInSeconds());
}

void ClipPreviewViewController::setField(ClipPreviewField field, double seconds) {
  const bool withoutOffset = field == ClipPreviewField::InOutDuration || field == ClipPreviewField::MediaDuration;
  const nodes::CVNTimeFormatter& formatter = withoutOffset ? formatterWithoutOffset_ : formatterWithOffset_;
  const double rate = formatter.framesPerSeconds();
  const double offset = rate > 0.0 ? static_cast<double>(formatter.offsetInFrames()) / rate : 0.0;
  controls_->setFieldText(field, formatter.stringForObjectValue(seconds + offset));
}

void ClipPreviewViewController::setCurrentPositionDoubleValueIfNotEditing(double seconds) {
  if (controls_ && !controls_->isEditing(ClipPreviewField::CurrentPosition)) {
    setField(ClipPreviewField::CurrentPosition, seconds);
  }
}

void ClipPreviewViewController::reflectTimingUIForItem() {
  if (!controls_ || !item_) return;
  setShowOverridenInOutPointCheckbox(delegate_ && delegate_->shouldShowOverridenInOutPointCheckbox());
  controls_->setOverridenInOutPointChecked(item_->hasOverridenInOutPoint().value_or(false));
  updateControlsEnabledStates();

  const double resolvedIn = itemResolvedInPointInSeconds();
  const double in = resolvedIn < 0.0 ? 0.0 : resolvedIn;
  const double resolvedOut = itemResolvedOutPointInSeconds();
  const double mediaDuration = item_->mediaItemDurationInSeconds();
  const double out = resolvedOut > 0.0 ? resolvedOut : mediaDuration;

  const std::int32_t type = item_->itemType();
  if (playerView_ && (type == kClipPreviewStillImage || type == kClipPreviewLiveInput ||
                      type == kClipPreviewLiveSource || type == kClipPreviewNetworkStream)) {
    playerView_->setItemDuration(mediaDuration);
    setSliderMaxValue(playerView_->itemDuration());
  }
  setCurrentPositionDoubleValueIfNotEditing(currentPosition());
  setField(ClipPreviewField::InOutDuration, item_->realDurationInSeconds());
  setField(ClipPreviewField::InPoint, in);
  setField(ClipPreviewField::OutPoint, out);
  setField(ClipPreviewField::MediaDuration, mediaDuration);
  setField(ClipPreviewField::PreviousItemMixPoint, item_->previousItemMixPointInSeconds());
  setField(ClipPreviewField::NextItemMixPoint, item_->nextItemMixPointInSeconds());
  controls_->setMarkers(in, out, mediaDuration);
}

void ClipPreviewViewController::setSliderMaxValue(double seconds) {
  if (controls_) controls_->setSliderMaximum(std::isnan(seconds) ? 0.0 : seconds);
}

void ClipPreviewViewController::updateSliderPosition() {
  if (controls_) controls_->setSliderValue(currentPosition());
}

void ClipPreviewViewController::setShowMixPoints(bool show) {
  showMixPoints_ = show && allowMixPoints_;
  if (controls_) controls_->setHidden(ClipPreviewControl::MixPointViewContainer, !showMixPoints_);
}

// ---- Transport ----

void ClipPreviewViewController::playPauseButtonAction() {
  if (playerView_) playerView_->togglePlayPause();
}

void ClipPreviewViewController::seekToTime(double seconds, bool precisely) {
  seekToTime(seconds, precisely, seconds < currentPosition());
}

void ClipPreviewViewController::seekToTime(double seconds, bool precisely, bool backwards) {
  if (playerView_) playerView_->seekToTime(seconds, precisely, backwards);
}

void ClipPreviewViewController::positionSliderChanged(double seconds) {
  if (!isTrakingPositionSlider_) return;
  seekToTime(seconds, false, false);
}

void ClipPreviewViewController::startedScrubbingTimelineAtPosition(double seconds) {
  isTrakingPositionSlider_ = true;
  seekToTime(seconds, false);
}

void ClipPreviewViewController::stoppedScrubbingTimelineAtPosition(double seconds) {
  isTrakingPositionSlider_ = false;
  seekToTime(seconds, true);
}

void ClipPreviewViewController::windowVisibilityChanged(bool visible) {
  if (!visible && playerView_) playerView_->setRate(0.0F);
}

void ClipPreviewViewController::playerViewPositionChanged(media::CVNPlayerView& view, pm::MediaTime position) {
  if (&view != playerView_) return;
  const double seconds = position.seconds();
  setCurrentPositionDoubleValueIfNotEditing(std::isfinite(seconds) ? seconds : 0.0);
  if (!isTrakingPositionSlider_) updateSliderPosition();
}

void ClipPreviewViewController::playerViewStatusChanged(media::CVNPlayerView& view, std::int32_t status) {
  if (&view != playerView_ || !controls_) return;
  controls_->setPlaying(status == CVNPlayerViewDelegate::kPlaying);
}

void ClipPreviewViewController::playerViewDurationDidChange(media::CVNPlayerView& view, double seconds) {
  if (&view == playerView_) setSliderMaxValue(seconds);
}

}  // namespace app
