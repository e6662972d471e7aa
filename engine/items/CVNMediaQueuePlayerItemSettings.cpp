// Settings, the session's set-up and its initialisation callback.
#include <cmath>

#include "engine/items/CVNMediaQueuePlayerItem.h"
#include "engine/items/FrameRateConform.h"
#include "foundation/CVNLogController.h"
#include "media/readers/CVNAssetReader.h"

namespace engine::items {

namespace pm = platform::media;

namespace {

// A negative duration plays without end: this many units of the timescale.
constexpr std::int64_t kUnboundedDurationValue = 9223372036854775;
// A still image without a duration or an out point.
constexpr double kStillImageSeconds = 10.0;

}  // namespace

void CVNMediaQueuePlayerItem::invalidate(const std::string& reason) {
  foundation::CVNLogController::sharedLogController().logMessageWithLevel(1, false, "Error: %s %s", reason.c_str(),
                                                                          descriptionForLogs().c_str());
  setIsValid(false, reason);
}

bool CVNMediaQueuePlayerItem::refuseSettingsOutOfOrder() {
  // The queue player sets these before the settings; a caller that does not
  // gets an invalid item instead of a stopped process.
  if (!delegate()) {
    invalidate("Settings applied before the delegate was set");
  } else if (!outputDisplayMode()) {
    invalidate("Settings applied before the output display mode was set");
  } else if (metalAPIEnabled() && !metalDevice()) {
    invalidate("Settings applied before the graphics device was set");
  } else {
    return false;
  }
  return true;
}

void CVNMediaQueuePlayerItem::applySettingsFromDictionary(const ItemDictionary& dictionary) {
  if (refuseSettingsOutOfOrder()) return;
  CVNQueuePlayerItem::applySettingsFromDictionary(dictionary);
  if (const auto value = boolForKey(dictionary, "itemAllowSmartResize")) allowDeinterlace_ = *value;
  if (const auto value = boolForKey(dictionary, "itemIgnoreOutputFrameRate")) ignoreOutputFrameRate_ = *value;
  if (const auto value = boolForKey(dictionary, "itemDequeueOneFrameRequestedKey")) dequeueOneFrameRequested_ = *value;
  if (const auto value = boolForKey(dictionary, "itemReverseFieldOrder")) explicitFieldInversion_ = *value;
  if (const auto* url = objectForKey<media::MediaURL>(dictionary, "itemURL")) {
    setURL(*url);
  } else if (const auto* path = stringForKey(dictionary, "itemURL")) {
    setURL(media::MediaURL::fileURLWithPath(*path));
  }
  if (boolForKey(dictionary, "itemIsZiraEvent").value_or(false)) type_ = kClipTypeLiveEvent;
  if (boolForKey(dictionary, "itemIsZiraInput").value_or(false)) type_ = kClipTypeLiveInput;
  createSession();
  if (!session_) {
    invalidate("No session could be made for the clip");
    return;
  }
  configureSession(dictionary);
  if (const auto* transition = plistDictionaryForKey(dictionary, "itemStartTransition")) {
    buildStartTransition(*transition);
  }
}

void CVNMediaQueuePlayerItem::createSession() {
  const auto self = std::static_pointer_cast<CVNMediaQueuePlayerItem>(shared_from_this());
  const std::weak_ptr<media::CVNDecompressionSessionDelegate> weakSelf = self;
  const auto queue = delegate()->playerItemDelegateDispatchQueue();
  const std::string name = displayName().value_or("");
  if (type_ == kClipTypeLiveInput) {
    const auto* source = objectForKey<std::shared_ptr<media::CVNZiraSource>>(itemDictionary(), "itemZiraSource");
    if (!source || !factory_.makeLiveInputSession) return;
    auto live = factory_.makeLiveInputSession(*source, weakSelf, queue);
    session_ = std::move(live.session);
    liveInput_ = session_ ? std::move(live.controls) : nullptr;
    if (!liveInput_) return;
    liveInput_->setWaitForActionCompletionCallback(
        boolForKey(itemDictionary(), "itemWaitForActionCompletionCallBack").value_or(false));
    liveInput_->setPlayForever(endBehaviour() == 2);
  } else if (type_ == kClipTypeLiveEvent) {
    if (factory_.makeLiveEventSession) session_ = factory_.makeLiveEventSession(weakSelf, queue, "Output - Vovi '" + name + "'");
  } else if (url_ && factory_.makeClipSession) {
    session_ = factory_.makeClipSession(*url_, "Output - Clip '" + name + "'", weakSelf, queue);
  }
}

void CVNMediaQueuePlayerItem::configureSession(const ItemDictionary& dictionary) {
  session_->setMetalAPIEnabled(metalAPIEnabled());
  session_->setShouldProduceGlobalIOSurface(!metalAPIEnabled());
  session_->setOutputDisplayMode(outputDisplayMode());
  if (const auto* subtitles = objectForKey<media::MediaURL>(dictionary, "itemSidecarSubtitleFileURL")) {
    session_->setSubtitleFilePath(subtitles->path());
  }
  const auto audio = outputAudioStreamBasicDescription();
  if (audio.channelsPerFrame != 0) session_->setOutputAudioStreamBasicDescription(audio);
  session_->setDisplayName(displayName());
  if (const auto seconds = integerForKey(dictionary, "itemReadAheadBuffer")) {
    session_->setReadAheadBufferInSeconds(static_cast<double>(*seconds));
  }
  if (const auto volume = numberForKey(dictionary, "itemOutputVolume")) session_->setOutputVolume(*volume);
  applyDuration(dictionary);
  if (const auto mode = integerForKey(dictionary, "itemResizeMode")) resizeMode_ = static_cast<std::int32_t>(*mode);
  if (const auto option = integerForKey(dictionary, "itemResizeModeOption")) {
    resizeModeOption_ = static_cast<std::int32_t>(*option);
  }
  if (const auto* logo = objectForKey<media::MediaURL>(dictionary, "itemStaticOverlayLogoURL")) {
    staticOverlayLogoURL_ = *logo;
  }
}

void CVNMediaQueuePlayerItem::applyDuration(const ItemDictionary& dictionary) {
  pm::MediaTime frameDuration = pm::MediaTime::invalid();
  const auto value = integerForKey(dictionary, "itemFrameDuration");
  const auto timeScale = integerForKey(dictionary, "itemTimeScale");
  if (value && timeScale && *value > 0 && *timeScale > 0 && *timeScale <= INT32_MAX) {
    frameDuration = pm::MediaTime::make(*value, static_cast<std::int32_t>(*timeScale));
    if (const auto asset = session_->asset()) asset->setFrameDuration(frameDuration);
  }
  auto seconds = finiteSecondsForKey(dictionary, "itemDuration");
  if (!seconds && session_->isStillImage()) {
    seconds = finiteSecondsForKey(dictionary, "itemOutPoint").value_or(kStillImageSeconds);
  }
  if (!seconds) return;
  if (frameDuration.isValid()) {
    setSessionDuration(*seconds, frameDuration);
  } else {
    // Counted in the session's own frames once it knows them.
    durationAwaitingFrameDuration_ = seconds;
  }
}

void CVNMediaQueuePlayerItem::setSessionDuration(double seconds, pm::MediaTime frameDuration) {
  if (seconds < 0) {
    session_->setDuration(pm::MediaTime::make(kUnboundedDurationValue, frameDuration.timeScale));
    return;
  }
  const double frames = seconds * frameDuration.timeScale / static_cast<double>(frameDuration.value);
  const auto frameCount = frames >= static_cast<double>(INT64_MAX / frameDuration.value)
                              ? INT64_MAX / frameDuration.value
                              : static_cast<std::int64_t>(frames);
  session_->setDuration(pm::MediaTime::make(frameDuration.value * frameCount, frameDuration.timeScale));
}

void CVNMediaQueuePlayerItem::buildStartTransition(const platform::Dictionary& dictionary) {
  if (!factory_.makeStartTransition) return;
  StartTransitionContext context{metalDevice(), outputDisplayMode(), outputBufferFormat(),
                                 session_ ? session_->outputAudioStreamBasicDescription()
                                          : pm::AudioStreamBasicDescription{},
                                 delegate()};
  startTransition_ = factory_.makeStartTransition(dictionary, context);
  if (!startTransition_) return;
  startTransition_->setPlayerItemAfterTransition(shared_from_this());
  startTransition_->setItemBDictionary(plistEntries(itemDictionary()));
  if (holdFirstFrame()) {
    startTransition_->setHoldFirstFrame(true);
    setHoldFirstFrame(false);
  }
}

bool CVNMediaQueuePlayerItem::updateWithAttributes(const ItemDictionary& attributes,
                                                   std::optional<std::string>* errorString) {
  ItemDictionary remaining = attributes;
  if (const auto logo = remaining.find("itemStaticOverlayLogoURL"); logo != remaining.end()) {
    const auto* url = std::get_if<media::MediaURL>(&logo->second);
    staticOverlayLogoURL_ = url ? std::optional(*url) : std::nullopt;
    remaining.erase(logo);
  }
  if (const auto outPoint = finiteSecondsForKey(remaining, "itemOutPoint")) {
    if (session_) {
      session_->updateOutPoint(*outPoint);
      setPlaybackDuration(session_->playbackDuration().seconds());
    }
    remaining.erase("itemOutPoint");
  }
  if (const auto duration = finiteSecondsForKey(remaining, "itemDuration")) {
    if (session_) {
      session_->updatePlaybackDuration(*duration);
      setPlaybackDuration(session_->playbackDuration().seconds());
    }
    remaining.erase("itemDuration");
  }
  if (boolForKey(remaining, "itemWaitForActionCompletionCallBack")) {
    if (liveInput_) liveInput_->setWaitForActionCompletionCallback(false);
    remaining.erase("itemWaitForActionCompletionCallBack");
  }
  if (errorString) errorString->reset();
  return CVNQueuePlayerItem::updateWithAttributes(remaining, errorString);
}

void CVNMediaQueuePlayerItem::decompressionSessionDidInitialize(media::CVNSessionBase& session) {
  if (!isValid()) {
    setIsValid(false, session.validationErrorReasonString());
    setIsFinished(true);
    return;
  }
  type_ = factory_.clipTypeOfSession ? factory_.clipTypeOfSession(session) : kClipTypeLiveInput;
  const auto& mode = outputDisplayMode();
  const foundation::Size outputSize{double(mode->width()), double(mode->height())};
  if (type_ == kClipTypeAudioOnly) {
    setVideoFrameSize(outputSize);
    session.setDecompressSize(outputSize);
  } else {
    session.setDecompressSize(overridenDecompressionSize());
    session.setOutputFrameDimensions(outputSize);
  }
  setFieldOrder(session.fieldOrder());
  const auto naturalDuration = session.naturalFrameDuration();
  const bool hasNaturalDuration = naturalDuration.isValid() && naturalDuration.value > 0;
  if (hasNaturalDuration) setNaturalPlaybackRate(reciprocalTime(naturalDuration));
  setShouldInvertFieldsOrder(isInterlaced() && mode->interlaced() &&
                             static_cast<std::int32_t>(mode->fieldDominance()) != fieldOrder_);
  if (durationAwaitingFrameDuration_) {
    if (!hasNaturalDuration) {
      invalidate("No frame duration to count the frames of the clip");
      setIsFinished(true);
      return;
    }
    setSessionDuration(*durationAwaitingFrameDuration_, naturalDuration);
    durationAwaitingFrameDuration_.reset();
  }
  setPlaybackDuration(session.playbackDuration().seconds());
  session.setBufferFormat(outputBufferFormat());
  const auto& settings = itemDictionary();
  if (const auto in = finiteSecondsForKey(settings, "itemInPoint")) session.setInPointInSeconds(*in);
  if (const auto out = finiteSecondsForKey(settings, "itemOutPoint")) session.setOutPointInSeconds(*out);
  if (const auto start = finiteSecondsForKey(settings, "itemStartPosition")) session.setStartPositionInSeconds(*start);
  setPlaybackDuration(session.playbackDuration().seconds());
  copyTimesFromSession();
  if (ignoreOutputFrameRate_) {
    setDesiredPlaybackRate(naturalPlaybackRate_, mode->interlaced());
  } else {
    setDesiredPlaybackRate(pm::MediaTime::make(mode->timeScale(), static_cast<std::int32_t>(mode->frameDuration())),
                           mode->interlaced());
  }
  if (const auto mix = finiteSecondsForKey(settings, "itemPreviousItemMixPoint")) setPreviousItemMixPoint(*mix);
  if (const auto mix = finiteSecondsForKey(settings, "itemNextItemMixPoint")) setNextItemMixPoint(*mix);
  setItemState(kItemStateInitialized);
  setContentRect(getFrameUsingResizeMode(resizeMode_));
  if (requestedItemState() >= kItemStateReading) startReading();
}

void CVNMediaQueuePlayerItem::copyTimesFromSession() {
  if (session_) setTimes(session_->elapsedTime(), session_->remainingTime());
}

void CVNMediaQueuePlayerItem::setNaturalPlaybackRate(pm::MediaTime rate) {
  if (const auto snapped = snappedPlaybackRate(rate)) {
    naturalPlaybackRate_ = *snapped;
    return;
  }
  naturalPlaybackRate_ = rate;
  foundation::CVNLogController::sharedLogController().logMessageWithLevel(
      1, false, "Warning: File uses a weird frame rate: %lli/%i (%s)", static_cast<long long>(rate.value),
      rate.timeScale, descriptionForLogs().c_str());
}

void CVNMediaQueuePlayerItem::setDesiredPlaybackRate(pm::MediaTime rate, bool /*interlaced*/) {
  // The CPU path leaves drops and repeats to the session at the output's rate.
  oneFrameDecodedUsedToOuputTwoFrames_ = false;
  shouldAlternateFields_ = false;
  twoFramesDecodedUsedToOuputOneFrame_ = false;
  shouldUseTextureTwice_ = false;
  if (session_ && rate.isValid() && rate.value > 0) session_->setOutputFrameDuration(reciprocalTime(rate));
}

}  // namespace engine::items
