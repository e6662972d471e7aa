#include "engine/items/transitions/CVNLayerTransitionQueuePlayerItem.h"

namespace engine::items {

CVNLayerTransitionQueuePlayerItem::CVNLayerTransitionQueuePlayerItem(std::shared_ptr<CVNLayerTransition> layerTransition,
                                                                     KeyFrameAnimationsBuilder keyFrameAnimationsBuilder)
    : keyFrameAnimationsBuilder_(std::move(keyFrameAnimationsBuilder)), layerTransition_(std::move(layerTransition)) {
  if (auto uniqueID = layerTransition_->uniqueID()) setUniqueID(std::move(*uniqueID));
  setDisplayName(layerTransition_->name());
  setPlaybackDuration(layerTransition_->duration());
  // Nothing else in the engine gives the item its animations, and without
  // them a layer transition would not move at all.
  itemABasicAnimation_ = layerTransition_->itemABasicAnimation();
  itemBBasicAnimation_ = layerTransition_->itemBBasicAnimation();
}

void CVNLayerTransitionQueuePlayerItem::setItemA(std::shared_ptr<CVNCGItem> item) {
  if (item == itemA_) return;
  itemA_ = std::move(item);
  updateKeyFrameAnimationsFromBasicAnimations();
}

void CVNLayerTransitionQueuePlayerItem::setItemB(std::shared_ptr<CVNCGItem> item) {
  if (item == itemB_) return;
  itemB_ = std::move(item);
  updateKeyFrameAnimationsFromBasicAnimations();
}

void CVNLayerTransitionQueuePlayerItem::updateKeyFrameAnimationsFromBasicAnimations() {
  const auto& mode = outputDisplayMode();
  const foundation::Rect project{{0, 0}, {mode ? double(mode->width()) : 0.0, mode ? double(mode->height()) : 0.0}};
  const auto frameOf = [](const std::shared_ptr<CVNCGItem>& item) { return item ? item->frame() : foundation::Rect{}; };
  const auto anchorOf = [](const std::shared_ptr<CVNCGItem>& item) {
    return item ? item->anchorPoint() : foundation::Point{};
  };
  const CVNBasicAnimation* animationA = itemABasicAnimation_ ? &*itemABasicAnimation_ : nullptr;
  const CVNBasicAnimation* animationB = itemBBasicAnimation_ ? &*itemBBasicAnimation_ : nullptr;
  itemAKeyFrameAnimations_ = keyFrameAnimationsBuilder_(animationA, frameOf(itemA_), anchorOf(itemA_), project, 0, true);
  const double offsetB = playbackDuration() - (animationB ? animationB->duration() : 0.0);
  itemBKeyFrameAnimations_ =
      keyFrameAnimationsBuilder_(animationB, frameOf(itemB_), anchorOf(itemB_), project, offsetB, false);
}

void CVNLayerTransitionQueuePlayerItem::updateLayersForNextFrame() {
  const double time = elapsedTime().seconds();
  if (itemA_ && !itemAKeyFrameAnimations_.empty()) itemA_->updateAnimatedPropertiesWithDictionary(itemAKeyFrameAnimations_, time);
  if (itemB_ && !itemBKeyFrameAnimations_.empty()) itemB_->updateAnimatedPropertiesWithDictionary(itemBKeyFrameAnimations_, time);
}

}  // namespace engine::items
