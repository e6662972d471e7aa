#include "node-standin/EngineHost.h"

namespace standin {

using engine::items::ItemDictionary;

EngineHost::EngineHost(EngineItemSource& items, EngineStatusBoard& board) : items_(items), board_(board) {}

std::optional<ItemDictionary> EngineHost::nextItemAfterItem(const ItemDictionary* afterItem, bool becauseOfError,
                                                            platform::Dictionary* playbackControllerInfo) {
  const std::string* afterID = afterItem ? engine::items::stringForKey(*afterItem, "playlistItemUniqueID") : nullptr;
  EngineItemAnswer answer = items_.nextItemAfter(afterID, becauseOfError);
  if (answer.item) return engine::items::itemDictionaryFromPlist(*answer.item);
  if (playbackControllerInfo) {
    (*playbackControllerInfo)["playbackControllerNoNextItemReason"] = platform::Value(answer.noItemReason);
  }
  return std::nullopt;
}

void EngineHost::itemsOrStatusChanged(std::int32_t engineStatus, const ItemDictionary*,
                                      const ItemDictionary* currentItem, const ItemDictionary*) {
  if (!currentItem) {
    board_.itemsOrStatusChanged(engineStatus, nullptr);
    return;
  }
  const platform::Dictionary current = engine::items::plistEntries(*currentItem);
  board_.itemsOrStatusChanged(engineStatus, &current);
}

void EngineHost::queuedItemsDidChange(const std::vector<ItemDictionary>& lockedClips) {
  std::vector<std::string> ids;
  for (const ItemDictionary& clip : lockedClips) {
    if (const std::string* id = engine::items::stringForKey(clip, "playlistItemUniqueID")) ids.push_back(*id);
  }
  board_.queuedItemsDidChange(std::move(ids));
}

}  // namespace standin
