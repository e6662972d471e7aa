#include "node-standin/EngineStatusBoard.h"

namespace standin {

void EngineStatusBoard::itemsOrStatusChanged(std::int32_t engineStatus, const platform::Dictionary* currentItem) {
  const platform::Clock::TimePoint now = platform::Clock::current().now();
  const std::lock_guard lock(mutex_);
  report_.engineStatus = engineStatus;
  report_.reportedAt = now;
  if (!currentItem) {
    report_.elapsed = report_.duration;
    return;
  }
  const platform::Value item(*currentItem);
  report_.itemID = item["playlistItemUniqueID"].stringOr("");
  report_.elapsed = item["elapsedTime"].realOr(0);
  report_.duration = item["itemDuration"].realOr(0);
}

void EngineStatusBoard::queuedItemsDidChange(std::vector<std::string> playlistItemUniqueIDs) {
  const std::lock_guard lock(mutex_);
  report_.queuedIDs = std::move(playlistItemUniqueIDs);
}

EngineReport EngineStatusBoard::report() const {
  const std::lock_guard lock(mutex_);
  return report_;
}

}  // namespace standin
