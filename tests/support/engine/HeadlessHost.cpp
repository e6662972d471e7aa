#include "tests/support/engine/HeadlessHost.h"

#include <algorithm>
#include <cstring>

#include "platform/media/PixelBufferPool.h"

namespace engine_host {
namespace {

// Marks a numbered picture, so black (which lacks it) is told apart from frame 0.
constexpr std::uint32_t kNumberedMark = 0x4E554D42;

}  // namespace

void ScriptedHostDelegate::script(std::vector<engine::items::ItemDictionary> items) {
  const std::lock_guard lock(mutex_);
  script_.assign(items.begin(), items.end());
}

void ScriptedHostDelegate::setRepeat(std::optional<engine::items::ItemDictionary> item) {
  const std::lock_guard lock(mutex_);
  repeat_ = std::move(item);
}

std::optional<engine::items::ItemDictionary> ScriptedHostDelegate::nextItemAfterItem(
    const engine::items::ItemDictionary*, bool becauseOfError, platform::Dictionary*) {
  record("nextItemAfterItem", becauseOfError);
  const std::lock_guard lock(mutex_);
  if (script_.empty()) return repeat_;
  auto item = std::move(script_.front());
  script_.pop_front();
  return item;
}

void ScriptedHostDelegate::itemsOrStatusChanged(std::int32_t status, const engine::items::ItemDictionary*,
                                                const engine::items::ItemDictionary*,
                                                const engine::items::ItemDictionary*) {
  record("itemsOrStatusChanged " + std::to_string(status));
}

void ScriptedHostDelegate::playbackStatusDidChange(std::int32_t status, Timestamp timestamp) {
  record("playbackStatusDidChange " + std::to_string(status), false, timestamp.has_value());
}

void ScriptedHostDelegate::record(std::string name, bool becauseOfError, bool timestamped) {
  const std::lock_guard lock(mutex_);
  calls_.push_back({std::move(name), std::this_thread::get_id(), becauseOfError, timestamped});
}

std::vector<HostCall> ScriptedHostDelegate::calls() const {
  const std::lock_guard lock(mutex_);
  return calls_;
}

std::vector<std::string> ScriptedHostDelegate::callNames() const {
  std::vector<std::string> names;
  for (const auto& call : calls()) names.push_back(call.name);
  return names;
}

std::size_t ScriptedHostDelegate::count(const std::string& name) const {
  std::size_t n = 0;
  for (const auto& call : calls()) n += call.name == name ? 1 : 0;
  return n;
}

void RecordingEngine::videoMixerStatusDidChange(std::uint64_t) {}

void RecordingEngine::itemsOrStatusChanged(std::int32_t engineStatus, const engine::items::ItemDictionary*,
                                           const engine::items::ItemDictionary*, const engine::items::ItemDictionary*) {
  const std::lock_guard lock(mutex_);
  engineStatuses_.push_back(engineStatus);
}

std::vector<std::int32_t> RecordingEngine::engineStatuses() const {
  const std::lock_guard lock(mutex_);
  return engineStatuses_;
}

void TestOutput::setDelegate(pluginframework::CVNVideoOutputDelegate* delegate) {
  ++delegateChangesAsked;
  const std::lock_guard lock(mutex_);
  delegate_ = delegate;
}

bool TestOutput::startPlayback(platform::Error* error) {
  if (startError) {
    if (error) *error = platform::Error("TestOutput", 1, *startError);
    return false;
  }
  running = true;
  return true;
}

void TestOutput::stopPlaybackWithReason(const std::string& reason) {
  running = false;
  const std::lock_guard lock(mutex_);
  stopReasons_.push_back(reason);
}

void TestOutput::sendFrame(const std::shared_ptr<platform::media::PixelBuffer>&, const std::uint8_t*, std::size_t,
                           const platform::media::SampleBufferRef&, const platform::media::SampleBufferRef&,
                           const pluginframework::VANCPackets&, const platform::media::AudioStreamBasicDescription&) {
  const std::lock_guard lock(mutex_);
  ++framesSent_;
}

bool TestOutput::pull(std::uint32_t audioFrames, std::shared_ptr<platform::media::PixelBuffer>* picture,
                      std::vector<std::int16_t>* audio) {
  std::vector<std::int16_t> scratch;
  auto& samples = audio ? *audio : scratch;
  samples.assign(std::size_t{audioFrames} * std::max<std::uint32_t>(audioFormat.bytesPerFrame / 2, 1), 0);
  std::shared_ptr<platform::media::PixelBuffer> frame;
  const std::lock_guard lock(mutex_);
  if (!delegate_) return false;
  ++pullsInProgress;
  const bool pulled = delegate_->outputWantsFrame(nextFrameIndex++, audioFrames, &frame, samples.data());
  --pullsInProgress;
  if (picture) *picture = std::move(frame);
  return pulled;
}

std::vector<std::string> TestOutput::stopReasons() const {
  const std::lock_guard lock(mutex_);
  return stopReasons_;
}

std::size_t TestOutput::framesSent() const {
  const std::lock_guard lock(mutex_);
  return framesSent_;
}

bool NumberedFrameRenderer::prepare(const engine::render::RenderTarget& target, std::string*) {
  pool_ = target.pool;
  return true;
}

std::shared_ptr<platform::media::PixelBuffer> NumberedFrameRenderer::renderFrame(std::int64_t frameNumber) {
  {
    std::unique_lock lock(control_->mutex);
    control_->begun.push_back(frameNumber);
    control_->changed.notify_all();
    control_->changed.wait(lock, [this] { return !control_->stalling; });
    if (control_->failing) return nullptr;
  }
  std::shared_ptr<platform::media::PixelBuffer> picture;
  if (pool_->createPixelBuffer(&picture) != platform::media::kCVReturnSuccess) return nullptr;
  std::memcpy(picture->baseAddress(), &kNumberedMark, sizeof kNumberedMark);
  std::memcpy(picture->baseAddress() + sizeof kNumberedMark, &frameNumber, sizeof frameNumber);
  return picture;
}

std::int64_t frameNumberOf(const platform::media::PixelBuffer& picture) {
  std::uint32_t mark = 0;
  std::memcpy(&mark, picture.baseAddress(), sizeof mark);
  if (mark != kNumberedMark) return -1;
  std::int64_t frameNumber = 0;
  std::memcpy(&frameNumber, picture.baseAddress() + sizeof mark, sizeof frameNumber);
  return frameNumber;
}

}  // namespace engine_host
