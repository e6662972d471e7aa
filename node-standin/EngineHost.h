#pragma once
// EngineHost: the node as the engine's (version-2) delegate. Next-item
// questions are answered by the EngineItemSource; status, item and queue
// reports go to the EngineStatusBoard. Failures the engine reports through
// its items (an invalid clip) are passed by the item source, not here.
//
// Owned by main; outlives the engine. Called on the main thread, and on the
// engine's queue player's queue for next items.

#include "engine/CVNEngineDelegate.h"
#include "node-standin/EngineItemSource.h"
#include "node-standin/EngineStatusBoard.h"

namespace standin {

class EngineHost final : public engine::CVNEngineDelegate {
 public:
  // items, board: not owned, outlive the host.
  EngineHost(EngineItemSource& items, EngineStatusBoard& board);

  std::optional<engine::items::ItemDictionary> nextItemAfterItem(const engine::items::ItemDictionary* afterItem,
                                                                 bool becauseOfError,
                                                                 platform::Dictionary* playbackControllerInfo) override;
  bool answersItemsOrStatusChanged() const override { return true; }
  void itemsOrStatusChanged(std::int32_t engineStatus, const engine::items::ItemDictionary* fadeOutItem,
                            const engine::items::ItemDictionary* currentItem,
                            const engine::items::ItemDictionary* fadeInItem) override;
  void queuedItemsDidChange(const std::vector<engine::items::ItemDictionary>& lockedClips) override;

 private:
  EngineItemSource& items_;
  EngineStatusBoard& board_;
};

}  // namespace standin
