#include "tests/engine/queueplayer/QueuePlayerFakes.h"

#include <algorithm>
#include <cmath>

#include "platform/media/PixelBuffer.h"

namespace queueplayer_fakes {

namespace pm = platform::media;

namespace {

constexpr std::int32_t kFramesPerSecond = 25;

}  // namespace

FakeItem::FakeItem(const FakeScript& script)
    : transition_(script.transition),
      readyWhenReading_(script.readyWhenReading),
      frames_(std::llround(script.seconds * kFramesPerSecond)) {
  applySettingsFromDictionary({{"itemDisplayName", platform::Value(script.name)},
                               {"playlistItemUniqueID", platform::Value(script.name + "-id")},
                               {"itemEndBehaviour", platform::Value(script.endBehaviour)}});
  setPlaybackDuration(script.seconds);
  setTimes(pm::MediaTime::make(0, kFramesPerSecond), pm::MediaTime::make(frames_, kFramesPerSecond));
  if (script.previousMixPoint) setPreviousItemMixPoint(*script.previousMixPoint);
  if (script.nextMixPoint) setNextItemMixPoint(*script.nextMixPoint);
  if (!script.valid) setIsValid(false, "missing file");
  pm::PixelBuffer::create(2, 2, pm::kPixelFormat422YpCbCr8, {}, &picture_);
}

void FakeItem::startReading() {
  if (itemState() >= engine::items::kItemStateReading || isFinished()) return;
  if (!isValid()) {
    // As a clip whose file is missing: nothing to read, never ready.
    setIsFinished(true);
    return;
  }
  setItemState(engine::items::kItemStateReading);
  if (readyWhenReading_) markAsReadyForPlayback();
}

std::shared_ptr<pm::PixelBuffer> FakeItem::copyCurrentPixelBuffer() {
  return currentPixelBufferIsMissing() ? nullptr : picture_;
}

std::shared_ptr<pm::PixelBuffer> FakeItem::nextPixelBufferByAllowingItemToDequeue(bool allowDequeue, std::int32_t) {
  if (!isReadyForPlayback()) return nullptr;
  if (allowDequeue) playOneFrame();
  setCurrentPixelBufferIsMissing(false);
  return picture_;
}

void FakeItem::playOneFrame() {
  if (isFinished()) return;
  ++dequeues;
  ++played_;
  setTimes(pm::MediaTime::make(played_, kFramesPerSecond),
           pm::MediaTime::make(std::max<std::int64_t>(0, frames_ - played_), kFramesPerSecond));
  if (played_ >= frames_) setIsFinished(true);
}

std::shared_ptr<FakeItem> makeItem(const FakeScript& script) { return std::make_shared<FakeItem>(script); }

ItemRef FakeDataSource::nextItemForQueuePlayer(engine::queueplayer::CVNQueuePlayer& player,
                                               const engine::items::ItemDictionary* afterItem, bool becauseOfError,
                                               platform::Dictionary* playbackControllerInfo) {
  Answer answer;
  {
    std::lock_guard lock(mutex_);
    const std::string* after = afterItem ? engine::items::stringForKey(*afterItem, "itemDisplayName") : nullptr;
    requests_.push_back({after ? *after : std::string(), becauseOfError});
    if (!answers_.empty()) {
      answer = std::move(answers_.front());
      answers_.pop_front();
    } else {
      answer = generator_;
    }
  }
  ItemRef item = answer ? answer(player) : nullptr;
  std::lock_guard lock(mutex_);
  if (!item) {
    *playbackControllerInfo = info_;
    return nullptr;
  }
  if (auto fake = std::dynamic_pointer_cast<FakeItem>(item)) made_[item->displayName().value_or("")] = fake;
  return item;
}

void FakeDataSource::add(std::optional<FakeScript> script) {
  addAnswer([script](engine::queueplayer::CVNQueuePlayer& player) -> ItemRef {
    if (!script) return nullptr;
    auto item = makeItem(*script);
    item->setDelegate(&player);
    // Known media: the item reports its initialisation at once.
    item->setItemState(engine::items::kItemStateInitialized);
    return item;
  });
}

void FakeDataSource::addAnswer(Answer answer) {
  std::lock_guard lock(mutex_);
  answers_.push_back(std::move(answer));
}

void FakeDataSource::setGenerator(Answer generator) {
  std::lock_guard lock(mutex_);
  generator_ = std::move(generator);
}

std::vector<FakeDataSource::Request> FakeDataSource::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

std::shared_ptr<FakeItem> FakeDataSource::item(const std::string& name) const {
  std::lock_guard lock(mutex_);
  const auto found = made_.find(name);
  return found == made_.end() ? nullptr : found->second;
}

std::vector<std::shared_ptr<FakeItem>> FakeDataSource::items() const {
  std::lock_guard lock(mutex_);
  std::vector<std::shared_ptr<FakeItem>> all;
  for (const auto& [name, item] : made_) all.push_back(item);
  return all;
}

std::string nameOf(const ItemRef& item) { return item ? item->displayName().value_or("?") : "-"; }

void RecordingPlayerDelegate::add(std::string call) {
  std::lock_guard lock(mutex_);
  calls_.push_back(std::move(call));
}

std::vector<std::string> RecordingPlayerDelegate::calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

std::size_t RecordingPlayerDelegate::count(const std::string& call) const {
  const auto all = calls();
  return static_cast<std::size_t>(std::count(all.begin(), all.end(), call));
}

void RecordingPlayerDelegate::itemsOrStatusChangedForQueuePlayer(engine::queueplayer::CVNQueuePlayer&,
                                                                 std::uint64_t status, const ItemRef&,
                                                                 const ItemRef& current, const ItemRef&) {
  add("changed " + std::to_string(status) + " " + nameOf(current));
}

void RecordingPlayerDelegate::queuePlayerDidInitializeValidItem(engine::queueplayer::CVNQueuePlayer&,
                                                                const ItemRef& item) {
  add("initialized " + nameOf(item));
}

void RecordingPlayerDelegate::queuePlayerDidStartItem(engine::queueplayer::CVNQueuePlayer&, const ItemRef& item) {
  add("started " + nameOf(item));
}

void RecordingPlayerDelegate::queuePlayerDidStopItem(engine::queueplayer::CVNQueuePlayer&, const ItemRef& item) {
  add("stopped " + nameOf(item));
}

void RecordingPlayerDelegate::queuePlayerStatusDidChange(engine::queueplayer::CVNQueuePlayer& player,
                                                         std::uint64_t status) {
  add("status " + std::to_string(status));
  if (onStatus_) onStatus_(player);
}

void RecordingPlayerDelegate::queuePlayerLockedClipsChanged(engine::queueplayer::CVNQueuePlayer&,
                                                            const std::vector<engine::items::ItemDictionary>& clips) {
  add("locked " + std::to_string(clips.size()));
}

void RecordingPlayerDelegate::queuePlayerDidBecomeReadyForPlaybackForItem(engine::queueplayer::CVNQueuePlayer&,
                                                                          const ItemRef& item) {
  add("ready " + nameOf(item));
}

void RecordingPlayerDelegate::queuePlayerFadeOutItemDidChange(engine::queueplayer::CVNQueuePlayer&,
                                                              const ItemRef& item) {
  add("fade-out " + nameOf(item));
}

void RecordingPlayerDelegate::queuePlayerFadeInItemDidChange(engine::queueplayer::CVNQueuePlayer&,
                                                             const ItemRef& item) {
  add("fade-in " + nameOf(item));
}

void RecordingPlayerDelegate::queuePlayerDidUpdateLogoURL(engine::queueplayer::CVNQueuePlayer&,
                                                          const std::optional<media::MediaURL>&) {
  add("logo");
}

}  // namespace queueplayer_fakes
