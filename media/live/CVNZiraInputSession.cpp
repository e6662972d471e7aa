#include "media/live/CVNZiraInputSession.h"

#include <cstring>

#include "captions/CVNCCUtilities.h"
#include "foundation/CVNLogController.h"
#include "media/live/CVNZiraSource.h"
#include "media/sessions/CVNDecompressionSession.h"
#include "platform/Clock.h"
#include "platform/Diagnostics.h"
#include "platform/UserDefaults.h"

namespace media {
namespace {

namespace pm = platform::media;

double clockSeconds() {
  return std::chrono::duration<double>(platform::Clock::current().now().time_since_epoch()).count();
}

std::int32_t bufferSizeFromDefaults() {
  const auto size = platform::UserDefaults::standard().integerForKey("ziraInputBufferSize");
  return size < 3 ? 2 : static_cast<std::int32_t>(std::min<std::int64_t>(size, 1000));
}

}  // namespace

void CVNZiraInputSession::registerDefaults() {
  platform::UserDefaults::standard().registerDefaults({{"ZiraInputNoSignalTimeOut", platform::Value(-5.0)}});
}

CVNZiraInputSession::CVNZiraInputSession(std::shared_ptr<CVNZiraSource> source, DelegateRef delegate,
                                         std::shared_ptr<platform::DispatchQueue> delegateQueue)
    : CVNSessionBase(std::move(delegate), std::move(delegateQueue)),
      source_(std::move(source)),
      sourceName_(source_->displayName()),
      bufferSize_(bufferSizeFromDefaults()),
      noSignalTimeout_(platform::UserDefaults::standard().doubleForKey("ZiraInputNoSignalTimeOut")) {
  // One more than the buffer size: a queue is trimmed right after each enqueue.
  const auto capacity = static_cast<std::size_t>(bufferSize_) + 1;
  videoQueue_ = std::make_shared<pm::SampleBufferQueue>(capacity, pm::SampleBufferQueue::Order::Arrival);
  audioQueue_ = std::make_shared<pm::SampleBufferQueue>(capacity, pm::SampleBufferQueue::Order::Arrival);
  closedCaptionQueue_ = std::make_shared<pm::SampleBufferQueue>(capacity, pm::SampleBufferQueue::Order::Arrival);
  setPlaybackPTS(pm::MediaTime::zero());
  setContent(kContentVideoAndAudio);
  if (auto input = source_->input()) setBufferFormat(input->bufferFormat());
}

std::shared_ptr<CVNZiraInputSession> CVNZiraInputSession::create(std::shared_ptr<CVNZiraSource> source,
                                                                 DelegateRef delegate,
                                                                 std::shared_ptr<platform::DispatchQueue> delegateQueue) {
  if (!source) return nullptr;
  std::shared_ptr<CVNZiraInputSession> session(
      new CVNZiraInputSession(std::move(source), std::move(delegate), std::move(delegateQueue)));
  if (session->delegateQueue()) {
    session->delegateQueue()->async([weak = std::weak_ptr<CVNZiraInputSession>(session)] {
      auto self = weak.lock();
      if (!self) return;
      auto input = self->source_->input();
      if (!self->source_->isEnabled() || !input || !input->isRunning()) {
        self->isValid_.store(false);
        self->setContent(kContentNothing);
      }
      self->setStatus(kSessionStatusInitialized);
      if (auto delegate = self->delegate()) delegate->decompressionSessionDidInitialize(*self);
    });
  }
  return session;
}

CVNZiraInputSession::~CVNZiraInputSession() {
  if (registered_.load()) source_->removeZiraSession(this);
}

void CVNZiraInputSession::log(const std::string& message, std::int32_t level, bool show) const {
  foundation::CVNLogController::sharedLogController().logMessage(message, level, show);
}

std::string CVNZiraInputSession::shortDescription() const { return "Vovi Session (" + sourceName_ + ")"; }

bool CVNZiraInputSession::startBuffering() {
  lastReceivedFrameTime_.store(clockSeconds());
  if (!registered_.exchange(true)) {
    source_->addZiraSession(std::static_pointer_cast<CVNZiraInputSession>(shared_from_this()));
  }
  setStatus(kSessionStatusReading);
  if (clockSeconds() - source_->lastReceivedFrameTime() > 0.5) {
    log(source_->inputDescription() + ": Start buffering Vovi clip while no signal is coming in", 1);
  }
  auto input = source_->input();
  const bool running = input && input->isRunning();
  if (running && noSignalTimeout_ > 0) {
    const auto delay = std::chrono::duration_cast<platform::Clock::Duration>(
        std::chrono::duration<double>(noSignalTimeout_ + 0.1));
    platform::DispatchQueue::main().after(delay, [weak = weak_from_this()] {
      if (auto self = std::static_pointer_cast<CVNZiraInputSession>(weak.lock())) {
        self->checkAndNotifyDelegateForMissingIncomingSignal();
      }
    });
  }
  return running;
}

void CVNZiraInputSession::discard() {
  if (registered_.exchange(false)) source_->removeZiraSession(this);
}

void CVNZiraInputSession::setOutputAudioStreamBasicDescription(const pm::AudioStreamBasicDescription& format) {
  CVNSessionBase::setOutputAudioStreamBasicDescription(format);
  setupAudio();
}

void CVNZiraInputSession::setupAudio() {
  const auto format = outputAudioStreamBasicDescription();
  const std::string name = sourceName_.empty() ? "Vovi Source" : sourceName_;
  createAudioOutput(name, static_cast<std::uint64_t>(format.bytesPerPacket * format.sampleRate * 10));
}

void CVNZiraInputSession::setWaitForActionCompletionCallback(bool wait) {
  const double timeout = platform::UserDefaults::standard().doubleForKey("actionWaitTimeout");
  std::lock_guard guard(captureMutex_);
  waitingForActions_ = wait;
  if (wait) actionDeadline_ = clockSeconds() + timeout;
}

bool CVNZiraInputSession::waitingForActionCompletionCallback() const {
  std::lock_guard guard(captureMutex_);
  return waitingForActions_;
}

std::uint64_t CVNZiraInputSession::skippedFramesCount() const {
  std::lock_guard guard(captureMutex_);
  return skippedFrames_;
}

void CVNZiraInputSession::trim(pm::SampleBufferQueue& queue) {
  while (queue.count() > static_cast<std::size_t>(bufferSize_)) queue.dequeue();
}

void CVNZiraInputSession::inputDidProduceVideoBuffer(const pm::SampleBufferRef& video, const pm::SampleBufferRef& audio,
                                                     const pm::SampleBufferRef& closedCaption) {
  lastReceivedFrameTime_.store(clockSeconds());
  if (!video) return;
  {
    std::lock_guard guard(captureMutex_);
    if (waitingForActions_) {
      if (clockSeconds() < actionDeadline_) {
        ++skippedFrames_;
        return;
      }
      log("\"" + sourceName_ +
              "\": BeforeStart Actions: Callback not received for some 'Before Start' actions, but timeout Reached. "
              "Starting Playback",
          1, true);
      waitingForActions_ = false;
    }
  }
  if (audio) audioQueue_->enqueue(audio);
  if (const auto& picture = video->imageBuffer()) {
    const foundation::Size size{static_cast<double>(picture->width()), static_cast<double>(picture->height())};
    if (size.width != decompressSize().width || size.height != decompressSize().height) setDecompressSize(size);
  }
  videoQueue_->enqueue(video);
  enqueueClosedCaption(closedCaption, *video);
  if (videoQueue_->count() >= static_cast<std::size_t>(bufferSize_) && !isReadyForPlayback()) {
    setReadyForPlayback(true);
    notifyDelegate(&CVNDecompressionSessionDelegate::decompressionSessionIsReadyForPlayback);
    notifyDelegate(&CVNDecompressionSessionDelegate::decompressionSessionDidReadAllFrames);
  }
  trim(*videoQueue_);
  trim(*audioQueue_);
  trim(*closedCaptionQueue_);
}

void CVNZiraInputSession::enqueueClosedCaption(const pm::SampleBufferRef& caption, const pm::SampleBuffer& video) {
  const pm::MediaTime pts = video.presentationTimeStamp();
  const pm::MediaTime duration = video.duration();
  pm::SampleBufferRef queued;
  std::lock_guard guard(captureMutex_);
  if (caption) {
    caption->createCopyWithNewTiming({{duration, pts, pts}}, &queued);
  } else {
    const auto input = source_->input();
    const auto mode = input ? input->selectedDisplayMode() : nullptr;
    const bool standardDefinition525 = mode && mode->width() == 720 && mode->height() == 486;
    queued = standardDefinition525
                 ? captions::CVNCCUtilities::createEmptyCEA608SampleBufferWithPTS(pts, duration, captionSequence_++)
                 : captions::CVNCCUtilities::createEmptyCEA708SampleBufferWithPTS(pts, duration, captionSequence_++);
  }
  if (!queued) return;
  // The first caption's kind, made here or from the input, is what the hand-out gives.
  if (!captionFormat_) captionFormat_ = queued->formatDescription();
  closedCaptionQueue_->enqueue(std::move(queued));
}

pm::FormatDescriptionRef CVNZiraInputSession::closedCaptionFormatDescription() const {
  std::lock_guard guard(captureMutex_);
  return captionFormat_;
}

pm::SampleBufferRef CVNZiraInputSession::videoBufferHead() { return videoQueue_->head(); }

void CVNZiraInputSession::convertAudioSample(const pm::SampleBufferRef& sample) {
  const auto& ring = circularAudioBuffer();
  const auto& block = sample->dataBuffer();
  const auto* inputFormat = sample->formatDescription() ? sample->formatDescription()->audioStreamBasicDescription()
                                                        : nullptr;
  if (!ring || !block || !inputFormat || inputFormat->bytesPerFrame == 0 || sample == currentAudioSample_) return;
  currentAudioSample_ = sample;
  const auto output = outputAudioStreamBasicDescription();
  if (!converter_.setFormats(*inputFormat, output) || output.bytesPerFrame == 0) {
    log("AudioConverter error: unsupported format", 1);
    return;
  }
  const std::int64_t inputFrames = static_cast<std::int64_t>(block->dataLength() / inputFormat->bytesPerFrame);
  // Sized by rate, so up-conversion is not cut; dropped whole when the ring lacks room.
  const std::int64_t outputFrames = converter_.maximumOutputFrames(inputFrames);
  const std::uint64_t bytes = static_cast<std::uint64_t>(outputFrames) * output.bytesPerFrame;
  if (bytes > ring->availableBytesForWriting()) {
    log("\"" + sourceName_ + "\": Dropped " + std::to_string(inputFrames) +
            " audio samples: the session output buffer is full",
        1);
    return;
  }
  std::int64_t produced = inputFrames;
  if (converter_.converts()) {
    produced = converter_.convert(block->data(), inputFrames, ring->getWritePointer(), outputFrames);
    if (produced < 0) {
      log("AudioConverter error: " + std::to_string(produced), 1);
      return;
    }
  } else {
    std::memcpy(ring->getWritePointer(), block->data(), bytes);
  }
  ring->advanceWritePointer(static_cast<std::uint64_t>(produced) * output.bytesPerFrame);
  audioSamplesBuffered_.fetch_add(static_cast<std::uint32_t>(produced));
}

pm::SampleBufferRef CVNZiraInputSession::dequeueVideoSampleAndConvertAudio() {
  auto video = videoQueue_->dequeue();
  if (!video) return nullptr;
  if (auto audio = audioQueue_->dequeue()) {
    convertAudioSample(audio);
  } else {
    log("videoSampleDequeued but no audioSample is available", 3);
  }
  const pm::MediaTime duration = video->duration();
  if (duration.isValid()) dequeueEndTimeStamp_ = dequeueEndTimeStamp_ + duration;
  return video;
}

pm::SampleBufferRef CVNZiraInputSession::nextVideoSampleBuffer() {
  const auto noFrame = [this]() -> pm::SampleBufferRef {
    checkAndNotifyDelegateForMissingIncomingSignal();
    if (incrementPTSWithoutFrames_.load()) incrementTimeStampsAndUpdateFinishedStatus();
    return nullptr;
  };
  if (waitForRefill_) {
    if (videoQueue_->count() < static_cast<std::size_t>(bufferSize_ - 1)) return noFrame();
    waitForRefill_ = false;
  }
  const pm::MediaTime frameDuration = outputFrameDuration();
  if (!frameDuration.isValid() || frameDuration.value <= 0) {
    platform::reportDiagnostic(platform::DiagnosticLevel::Warning, "invalid outputFrameDuration");
    return noFrame();
  }
  pm::SampleBufferRef kept;
  while (pm::compare(dequeueEndTimeStamp_, outTimeStamp_ + frameDuration) < 0) {
    auto taken = dequeueVideoSampleAndConvertAudio();
    if (!taken) {
      if (kept) break;
      waitForRefill_ = true;
      return noFrame();
    }
    if (!kept) kept = std::move(taken);  // later frames of this call are dropped
  }
  if (!kept) kept = lastReturned_;
  if (!kept) return noFrame();
  incrementTimeStampsAndUpdateFinishedStatus();
  lastReturned_ = kept;
  outTimeStamp_ = outTimeStamp_ + frameDuration;
  checkAndNotifyDelegateForMissingIncomingSignal();
  return kept;
}

void CVNZiraInputSession::incrementTimeStampsAndUpdateFinishedStatus() {
  const pm::MediaTime frameDuration = outputFrameDuration();
  if (!disablePlaybackPTSUpdate()) {
    if (!frameDuration.isValid()) {
      platform::reportDiagnostic(platform::DiagnosticLevel::Warning, "invalid output frame duration");
      return;
    }
    setPlaybackPTS(playbackPTS() + frameDuration);
  }
  if (pm::compare(playbackPTS() + videoQueue_->totalDuration(), duration()) >= 0 &&
      status() != kSessionStatusFinishedDecompressing) {
    setStatus(kSessionStatusFinishedDecompressing);
    notifyDelegate(&CVNDecompressionSessionDelegate::decompressionSessionDidDecompressAllFrames);
  }
}

bool CVNZiraInputSession::isFinishedPlaying() const {
  if (playForever_.load()) return false;
  return pm::compare(playbackPTS(), duration()) >= 0;
}

void CVNZiraInputSession::updatePlaybackDuration(double seconds) {
  const pm::MediaTime current = duration();
  const pm::MediaTime updated = pm::MediaTime::makeWithSeconds(seconds, current.timeScale > 0 ? current.timeScale : 600);
  setDuration(updated);
  if (pm::compare(updated, current) > 0 && status() > kSessionStatusReading) setStatus(kSessionStatusReading);
}

void CVNZiraInputSession::checkAndNotifyDelegateForMissingIncomingSignal() {
  if (noSignalTimeout_ <= 0) return;
  const double since = clockSeconds() - lastReceivedFrameTime_.load();
  if (since <= noSignalTimeout_) {
    // Frames came back: the next outage may be reported.
    reportAllowed_.store(true);
    return;
  }
  if (!reportAllowed_.exchange(false) || !delegateQueue()) return;
  delegateQueue()->async([weak = weak_from_this(), since] {
    auto self = weak.lock();
    if (!self) return;
    if (auto delegate = self->delegate()) delegate->ziraSessionDidNotReceiveAnyFramesSince(*self, since);
  });
}

pm::MediaTime CVNZiraInputSession::frameRateAsCMTime() const {
  auto input = source_->input();
  auto mode = input ? input->selectedDisplayMode() : nullptr;
  if (!mode || mode->frameDuration() <= 0) return pm::MediaTime::invalid();
  return pm::MediaTime::make(mode->timeScale(), static_cast<std::int32_t>(mode->frameDuration()));
}

double CVNZiraInputSession::framerate() const {
  auto input = source_->input();
  auto mode = input ? input->selectedDisplayMode() : nullptr;
  return mode ? mode->frameRate() : 0.0;
}

std::int64_t CVNZiraInputSession::numberOfAudioChannels() const {
  auto input = source_->input();
  return input ? input->audioChannels() : 0;
}

bool CVNZiraInputSession::isDropFrame() const {
  const double rate = framerate();
  return std::abs(rate - 30000.0 / 1001.0) < 0.01 || std::abs(rate - 60000.0 / 1001.0) < 0.01;
}

}  // namespace media
