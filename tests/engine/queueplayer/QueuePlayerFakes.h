#pragma once
// Scripted stand-ins around a queue player: items whose remaining time, mix
// points, readiness and end behaviour a test sets (each dequeue plays one
// 25 fps frame), a data source answering from a script, and a delegate that
// records what the player tells it.

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "engine/items/CVNQueuePlayerItem.h"
#include "engine/queueplayer/CVNQueuePlayer.h"

namespace queueplayer_fakes {

using ItemRef = std::shared_ptr<engine::items::CVNQueuePlayerItem>;

struct FakeScript {
  std::string name{};
  double seconds = 4.0;
  std::int32_t endBehaviour = 0;
  bool readyWhenReading = true;
  bool transition = false;
  std::optional<double> previousMixPoint{};
  std::optional<double> nextMixPoint{};
  bool valid = true;
};

class FakeItem final : public engine::items::CVNQueuePlayerItem {
 public:
  explicit FakeItem(const FakeScript& script);

  void startReading() override;
  void stopReadingAndDecodingFrames() override { ++stopCalls; }
  double currentReadAheadDurationInSeconds() override { return remainingTime().seconds(); }
  std::shared_ptr<platform::media::PixelBuffer> copyCurrentPixelBuffer() override;
  std::shared_ptr<platform::media::PixelBuffer> nextPixelBufferByAllowingItemToDequeue(bool allowDequeue,
                                                                                       std::int32_t status) override;
  void prepareNextTextureUsingCommandBuffer(engine::render::CommandBuffer*, bool shouldDequeue,
                                            std::int32_t) override {
    if (shouldDequeue) playOneFrame();
  }
  // No GPU here: the picture is described but has no texture.
  engine::render::TextureRef nextTexture() override { return nullptr; }
  bool isTransition() const override { return transition_; }
  // Ready now (as when the first picture has been decoded).
  void makeReady() { markAsReadyForPlayback(); }

  const std::shared_ptr<platform::media::PixelBuffer>& picture() const { return picture_; }
  int dequeues = 0;
  int stopCalls = 0;
  double allowedReadAhead = 0;

 private:
  void playOneFrame();

  bool transition_;
  bool readyWhenReading_;
  std::int64_t frames_;
  std::int64_t played_ = 0;
  std::shared_ptr<platform::media::PixelBuffer> picture_;
};

std::shared_ptr<FakeItem> makeItem(const FakeScript& script);

// Answers from its script in order (an empty entry answers nullptr); past the
// end, from the generator when one is set, else nullptr. Records each request.
class FakeDataSource final : public engine::queueplayer::CVNQueuePlayerDataSource {
 public:
  struct Request {
    std::string afterItem;  // display name of the last queued item; "" for none
    bool becauseOfError;
  };
  using Answer = std::function<ItemRef(engine::queueplayer::CVNQueuePlayer& player)>;

  ItemRef nextItemForQueuePlayer(engine::queueplayer::CVNQueuePlayer& player,
                                 const engine::items::ItemDictionary* afterItem, bool becauseOfError,
                                 platform::Dictionary* playbackControllerInfo) override;

  void add(std::optional<FakeScript> script);
  void addAnswer(Answer answer);
  void setGenerator(Answer generator);
  void setNoNextItemInfo(platform::Dictionary info) { info_ = std::move(info); }
  std::vector<Request> requests() const;
  std::size_t requestCount() const { return requests().size(); }
  // The items answered so far, by display name.
  std::shared_ptr<FakeItem> item(const std::string& name) const;
  std::vector<std::shared_ptr<FakeItem>> items() const;

 private:
  mutable std::mutex mutex_;
  std::deque<Answer> answers_;                           // guarded by mutex_
  Answer generator_;                                     // guarded by mutex_
  platform::Dictionary info_;                            // guarded by mutex_
  std::vector<Request> requests_;                        // guarded by mutex_
  std::map<std::string, std::shared_ptr<FakeItem>> made_;  // guarded by mutex_
};

class RecordingPlayerDelegate final : public engine::queueplayer::CVNQueuePlayerDelegate {
 public:
  void itemsOrStatusChangedForQueuePlayer(engine::queueplayer::CVNQueuePlayer&, std::uint64_t status, const ItemRef&,
                                          const ItemRef& current, const ItemRef&) override;
  void queuePlayerDidInitializeValidItem(engine::queueplayer::CVNQueuePlayer&, const ItemRef& item) override;
  void queuePlayerDidStartItem(engine::queueplayer::CVNQueuePlayer&, const ItemRef& item) override;
  void queuePlayerDidStopItem(engine::queueplayer::CVNQueuePlayer&, const ItemRef& item) override;
  void queuePlayerStatusDidChange(engine::queueplayer::CVNQueuePlayer& player, std::uint64_t status) override;
  void queuePlayerLockedClipsChanged(engine::queueplayer::CVNQueuePlayer&,
                                     const std::vector<engine::items::ItemDictionary>& clips) override;
  void queuePlayerDidBecomeReadyForPlaybackForItem(engine::queueplayer::CVNQueuePlayer&, const ItemRef& item) override;
  void queuePlayerFadeOutItemDidChange(engine::queueplayer::CVNQueuePlayer&, const ItemRef& item) override;
  void queuePlayerFadeInItemDidChange(engine::queueplayer::CVNQueuePlayer&, const ItemRef& item) override;
  void queuePlayerDidUpdateLogoURL(engine::queueplayer::CVNQueuePlayer&,
                                   const std::optional<media::MediaURL>& url) override;

  // "started A", "status 2", "ready A" (main queue), …
  std::vector<std::string> calls() const;
  std::size_t count(const std::string& call) const;
  // Runs inside each status change, on the player's queue.
  void setOnStatusChange(std::function<void(engine::queueplayer::CVNQueuePlayer&)> hook) { onStatus_ = std::move(hook); }

 private:
  void add(std::string call);

  mutable std::mutex mutex_;
  std::vector<std::string> calls_;  // guarded by mutex_
  std::function<void(engine::queueplayer::CVNQueuePlayer&)> onStatus_;
};

std::string nameOf(const ItemRef& item);

}  // namespace queueplayer_fakes
