#pragma once
// What a queue player tells its owner. Every call comes on the player's
// serial queue except didInitializeValidItem and didBecomeReadyForPlayback,
// which come on the main queue.

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/items/CVNQueuePlayerItem.h"
#include "engine/items/ItemDictionary.h"
#include "media/readers/MediaURL.h"

namespace engine::queueplayer {

class CVNQueuePlayer;

class CVNQueuePlayerDelegate {
 public:
  using ItemRef = std::shared_ptr<items::CVNQueuePlayerItem>;

  virtual ~CVNQueuePlayerDelegate() = default;

  // After a frame whose status or items changed.
  virtual void itemsOrStatusChangedForQueuePlayer(CVNQueuePlayer& player, std::uint64_t currentStatus,
                                                  const ItemRef& fadeOutItem, const ItemRef& currentItem,
                                                  const ItemRef& fadeInItem) = 0;
  virtual void queuePlayerDidInitializeValidItem(CVNQueuePlayer& player, const ItemRef& item) = 0;
  virtual void queuePlayerDidStartItem(CVNQueuePlayer& player, const ItemRef& item) = 0;
  virtual void queuePlayerDidStopItem(CVNQueuePlayer& player, const ItemRef& item) = 0;
  virtual void queuePlayerStatusDidChange(CVNQueuePlayer& player, std::uint64_t status) = 0;
  // The settings of every queued clip, in order: those can no longer change.
  virtual void queuePlayerLockedClipsChanged(CVNQueuePlayer& player,
                                             const std::vector<items::ItemDictionary>& lockedClips) = 0;
  virtual void queuePlayerDidBecomeReadyForPlaybackForItem(CVNQueuePlayer& player, const ItemRef& item) = 0;
  virtual void queuePlayerFadeOutItemDidChange(CVNQueuePlayer& player, const ItemRef& item) = 0;
  virtual void queuePlayerFadeInItemDidChange(CVNQueuePlayer& player, const ItemRef& item) = 0;
  virtual void queuePlayerDidUpdateLogoURL(CVNQueuePlayer& player, const std::optional<media::MediaURL>& url) = 0;
};

}  // namespace engine::queueplayer
