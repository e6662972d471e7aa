#include "engine/items/transitions/TransitionClockQueuePlayerItem.h"

#include "foundation/CVNLogController.h"

namespace engine::items {

namespace pm = platform::media;

std::optional<pm::MediaTime> TransitionClockQueuePlayerItem::durationOfOnePull(const pluginframework::CVNDisplayMode& mode,
                                                                              Pull pull) {
  if (mode.frameDuration() <= 0 || mode.timeScale() <= 0) return std::nullopt;
  if (pull == Pull::PerFrame || !mode.interlaced()) return pm::MediaTime::make(mode.frameDuration(), mode.timeScale());
  // Half a frame exactly: halving the value instead would drop odd
  // remainders, and a value of 1 would give 0 and never end.
  if (mode.timeScale() > pm::kMediaTimeMaxTimeScale / 2) return std::nullopt;
  return pm::MediaTime::make(mode.frameDuration(), mode.timeScale() * 2);
}

void TransitionClockQueuePlayerItem::startReading() {
  if (itemState() >= kItemStateReading) return;
  const auto& mode = outputDisplayMode();
  if (!mode || !durationOfOnePull(*mode, Pull::PerFieldOrFrame)) {
    finishWithoutClock();
    return;
  }
  setTimes(pm::MediaTime::make(0, mode->timeScale()), pm::MediaTime::makeWithSeconds(playbackDuration(), mode->timeScale()));
  clockDidStart();
  setItemState(kItemStateFinishedDecoding);
}

void TransitionClockQueuePlayerItem::prepareNextTextureUsingCommandBuffer(render::CommandBuffer*, bool shouldDequeue,
                                                                         std::int32_t) {
  if (shouldDequeue) stepClock(Pull::PerFieldOrFrame);
}

std::shared_ptr<pm::PixelBuffer> TransitionClockQueuePlayerItem::nextPixelBufferByAllowingItemToDequeue(bool allowDequeue,
                                                                                                       std::int32_t) {
  if (allowDequeue) stepClock(Pull::PerFrame);
  return nullptr;
}

void TransitionClockQueuePlayerItem::stepClock(Pull pull) {
  const auto& mode = outputDisplayMode();
  const auto step = mode ? durationOfOnePull(*mode, pull) : std::nullopt;
  if (!step) {
    finishWithoutClock();
    return;
  }
  setTimes(elapsedTime() + *step, remainingTime() - *step);
  if (remainingTime().value <= 0) setIsFinished(true);
}

void TransitionClockQueuePlayerItem::finishWithoutClock() {
  if (isFinished()) return;
  foundation::CVNLogController::sharedLogController().logMessageWithLevel(
      1, false, "Error: No output frame duration to time the transition %s",
      descriptionForLogs().c_str());
  setIsFinished(true);
}

}  // namespace engine::items
