#pragma once
// What the host's engine delegate answers and is told. The engine and the
// mixer call it on the main queue only; nextItemAfterItem comes on the main
// queue player's queue. Optional calls: a delegate that answers
// itemsOrStatusChanged is a version-2 delegate and gets no
// playbackStatusDidChange; one that answers the timestamped forms gets the
// time of each change.

#include <cstdint>
#include <optional>
#include <vector>

#include "engine/items/ItemDictionary.h"
#include "platform/Clock.h"
#include "platform/Value.h"

namespace engine {

class CVNEngineDelegate {
 public:
  using Timestamp = std::optional<platform::Clock::WallTime>;

  virtual ~CVNEngineDelegate() = default;

  // The settings of the item after `afterItem` (nullptr: the first), or none.
  // With none, `playbackControllerInfo` may say why.
  virtual std::optional<items::ItemDictionary> nextItemAfterItem(const items::ItemDictionary* afterItem,
                                                                 bool becauseOfError,
                                                                 platform::Dictionary* playbackControllerInfo) = 0;

  virtual bool answersItemsOrStatusChanged() const { return false; }
  virtual void itemsOrStatusChanged(std::int32_t /*engineStatus*/, const items::ItemDictionary* /*fadeOutItem*/,
                                    const items::ItemDictionary* /*currentItem*/,
                                    const items::ItemDictionary* /*fadeInItem*/) {}
  virtual bool answersTimestamps() const { return false; }
  // `timestamp` is set exactly for a delegate that answers timestamps.
  virtual void playbackStatusDidChange(std::int32_t /*engineStatus*/, Timestamp /*timestamp*/) {}
  virtual void itemWillChange(const items::ItemDictionary& /*item*/) {}
  virtual void itemDidChange(const items::ItemDictionary& /*item*/, Timestamp /*timestamp*/) {}
  virtual void itemDidStop(const items::ItemDictionary& /*item*/, Timestamp /*timestamp*/) {}
  virtual void queuedItemsDidChange(const std::vector<items::ItemDictionary>& /*lockedClips*/) {}
  virtual void fadeOutItemDidChange(const items::ItemDictionary* /*item*/) {}
  virtual void fadeInItemDidChange(const items::ItemDictionary* /*item*/) {}
};

}  // namespace engine
