#include "engine/items/transitions/CVNShaderTransitionQueuePlayerItem.h"

namespace engine::items {

CVNShaderTransitionQueuePlayerItem::CVNShaderTransitionQueuePlayerItem(std::shared_ptr<CVNShaderTransition> transition)
    : transition_(std::move(transition)) {
  setPlaybackDuration(1.0);
}

std::shared_ptr<CVNShaderTransition> CVNShaderTransitionQueuePlayerItem::transition() const {
  std::lock_guard lock(transitionMutex_);
  return transition_;
}

void CVNShaderTransitionQueuePlayerItem::setTransition(std::shared_ptr<CVNShaderTransition> transition) {
  std::lock_guard lock(transitionMutex_);
  transition_ = std::move(transition);
}

}  // namespace engine::items
