// The per-frame path: renders on the rendering queue, hand-out on the output's thread.

#include <algorithm>
#include <cstring>

#include "engine/mixer/CVNVideoMixer.h"
#include "engine/mixer/VideoMixerRun.h"
#include "foundation/CVNLogController.h"
#include "foundation/CVNTimeCodeUtility.h"

namespace engine::mixer {
namespace {

constexpr auto kWaitWarningThreshold = std::chrono::milliseconds(10);
constexpr auto kBlackLogInterval = std::chrono::seconds(1);

double secondsOf(platform::Clock::Duration duration) {
  return std::chrono::duration<double>(duration).count();
}

}  // namespace

void CVNVideoMixer::renderNextFrame() {
  const auto run = currentRun();
  if (!isRunning() || !run) return;
  {
    const std::lock_guard lock(processingFrameCountLock_);
    ++processingFrameCount_;
  }
  const bool queued = renderingQueue_->async([weak = weak_from_this(), run] {
    if (const auto self = weak.lock()) self->render(run);
  });
  if (!queued) processingFrameDone();
}

void CVNVideoMixer::render(const std::shared_ptr<Run>& run) {
  const auto started = platform::Clock::current().now();
  const auto& mode = *run->displayMode;
  const auto audioFrames = static_cast<std::uint32_t>(foundation::CVNTimeCodeUtility::audioSamplesPerFrameForFrameDuration(
      mode.frameDurationAsCMTime(), static_cast<std::uint64_t>(run->frameCpt)));

  MixerFrame frame;
  frame.picture = run->renderer->renderFrame(run->frameCpt);
  // A frame that could not be made goes out black, so the output never waits on it.
  if (!frame.picture) frame.picture = run->emptyPixelBuffer;
  collectAudioAndCaptions(*run, audioFrames, &frame);
  {
    const std::lock_guard lock(run->audioVideoClosedCaptionBuffersLock);
    run->finishedFrames.push_back(std::move(frame));
  }
  run->renderingSemaphore.signal();
  processingFrameDone();

  run->nextRenderTime = run->nextRenderTime + mode.frameDurationAsCMTime();
  {
    const std::lock_guard lock(performanceSync_);
    renderingPerformanceElapsedTime_ += secondsOf(platform::Clock::current().now() - started);
    ++renderingPerformanceCpt_;
  }
  ++run->frameCpt;
}

void CVNVideoMixer::collectAudioAndCaptions(Run& run, std::uint32_t audioFrames, MixerFrame* frame) {
  std::uint32_t size = 0;
  const std::uint8_t* samples = run.player->nextAudioSamples(audioFrames, &size, 0);
  if (!samples) {
    samples = run.silence->data();
    size = run.audioBytesPerFrame * std::min(audioFrames, kSilenceFrames);
  }
  // Each frame's audio is copied into the ring and handed out from it, so it
  // stays readable while the next frames are written.
  size = static_cast<std::uint32_t>(std::min<std::uint64_t>(size, run.audioRing->byteCapacity()));
  std::memcpy(run.audioRing->getWritePointer(), samples, size);
  run.audioRing->advanceWritePointer(size);
  frame->audio = run.audioRing->getReadPointer();
  run.audioRing->advanceReadPointer(size);
  frame->audioFrameCount = audioFrames;
  frame->audioOwner = run.audioRing;

  frame->closedCaption = run.player->nextClosedCaptionSampleBuffer();
  frame->timecode = run.player->nextTimecodeSampleBuffer();
  if (!frame->timecode) frame->timecode = run.emptyTimecode;
}

bool CVNVideoMixer::copyNextPixelBuffer(MixerFrame* frame) {
  *frame = MixerFrame{};
  const auto run = currentRun();
  if (!run) return false;

  auto& clock = platform::Clock::current();
  const auto started = clock.now();
  // Two frame durations: after that the output gets black rather than a late frame.
  if (!run->renderingSemaphore.wait(2 * run->frameDuration())) {
    handOutBlack(*run, frame);
    return true;
  }
  const auto waited = clock.now() - started;
  if (waited > kWaitWarningThreshold)
    foundation::CVNLogController::sharedLogController().logMessageWithLevel(
        2, false, "VideoMixer: Warning: Had to wait %0.6fs", secondsOf(waited));
  {
    const std::lock_guard lock(run->audioVideoClosedCaptionBuffersLock);
    if (run->finishedFrames.empty()) {
      handOutBlack(*run, frame);
      return true;
    }
    *frame = std::move(run->finishedFrames.front());
    run->finishedFrames.pop_front();
  }
  renderNextFrame();
  return true;
}

// No render is started for a black frame: the late one still counts towards the three ahead.
void CVNVideoMixer::handOutBlack(const Run& run, MixerFrame* frame) {
  frame->picture = run.emptyPixelBuffer;
  frame->audio = run.silence->data();
  frame->audioFrameCount = static_cast<std::uint32_t>(foundation::CVNTimeCodeUtility::audioSamplesPerFrameForFrameDuration(
      run.displayMode->frameDurationAsCMTime(), 0));
  frame->audioOwner = run.silence;
  frame->closedCaption = nullptr;
  frame->timecode = nullptr;

  const auto now = platform::Clock::current().now();
  std::uint64_t blackFrames = 0;
  {
    const std::lock_guard lock(performanceSync_);
    ++blackFramesSinceLog_;
    if (now - lastBlackLog_ < kBlackLogInterval) return;
    lastBlackLog_ = now;
    blackFrames = std::exchange(blackFramesSinceLog_, 0);
  }
  foundation::CVNLogController::sharedLogController().logMessageWithLevel(
      0, true, "VideoMixer: Error: no frame ready in time; %llu black frame(s) sent",
      static_cast<unsigned long long>(blackFrames));
}

}  // namespace engine::mixer
