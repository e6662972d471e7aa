#pragma once
// Where a queue player gets the item after its last queued one. The video
// mixer is the main player's data source. Called on the player's queue.

#include <memory>

#include "engine/items/CVNQueuePlayerItem.h"
#include "engine/items/ItemDictionary.h"
#include "platform/Value.h"

namespace engine::queueplayer {

class CVNQueuePlayer;

// Keys of the information a data source may give with a nil answer.
inline constexpr const char* kPlaybackControllerNoNextItemReasonKey = "playbackControllerNoNextItemReason";
inline constexpr const char* kPlaybackControllerShouldHoldFrameOnLastItemKey =
    "playbackControllerShouldHoldFrameOnLastItem";

class CVNQueuePlayerDataSource {
 public:
  virtual ~CVNQueuePlayerDataSource() = default;

  // A new, configured item not yet queued (its delegate already the player),
  // or nullptr. `afterItem` is the settings of the last queued item (nullptr
  // for an empty queue); `becauseOfError` is set when the previous answer
  // turned out invalid. With nullptr, `playbackControllerInfo` may say why.
  virtual std::shared_ptr<items::CVNQueuePlayerItem> nextItemForQueuePlayer(
      CVNQueuePlayer& player, const items::ItemDictionary* afterItem, bool becauseOfError,
      platform::Dictionary* playbackControllerInfo) = 0;
};

}  // namespace engine::queueplayer
