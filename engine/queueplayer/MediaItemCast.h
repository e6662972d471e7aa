#pragma once
// The clip behind a queue item: the player reaches sessions, audio, captions
// and scrubbing only through clips; transitions and other items have none.

#include <memory>

#include "engine/items/CVNMediaQueuePlayerItem.h"

namespace engine::queueplayer::detail {

inline std::shared_ptr<items::CVNMediaQueuePlayerItem> asMedia(const std::shared_ptr<items::CVNQueuePlayerItem>& item) {
  return std::dynamic_pointer_cast<items::CVNMediaQueuePlayerItem>(item);
}

}  // namespace engine::queueplayer::detail
