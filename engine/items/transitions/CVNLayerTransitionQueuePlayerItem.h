#pragma once
// The queue item of a layer transition: it keeps the transition's clock and
// animates the layers of the outgoing (A) and incoming (B) items, which the
// graphics item drawing the queue player hands it, with key-frame animations
// built from the transition's basic animations.
//
// Lives on: the queue player's serial queue; the graphics item that sets the
// layers and asks for each frame's update calls from the rendering thread
// while the player's queue waits for it.

#include <functional>
#include <memory>
#include <optional>

#include "engine/graphicsservices/CVNBasicAnimation.h"
#include "engine/graphicsservices/CVNCGItem.h"
#include "engine/items/transitions/TransitionClockQueuePlayerItem.h"
#include "engine/transitions/CVNLayerTransition.h"

namespace engine::items {

class CVNLayerTransitionQueuePlayerItem final : public TransitionClockQueuePlayerItem {
 public:
  // The expansion of a basic animation into key-frame animations; the
  // graphics layer's by default.
  using KeyFrameAnimationsBuilder =
      std::function<platform::Dictionary(const CVNBasicAnimation* animation, foundation::Rect itemFrame,
                                         foundation::Point itemAnchorPoint, foundation::Rect relativeToRect,
                                         double offsetInSeconds, bool forOutAnimation)>;

  // Takes the transition's unique ID, name and duration, and its animations of A and B.
  explicit CVNLayerTransitionQueuePlayerItem(
      std::shared_ptr<CVNLayerTransition> layerTransition,
      KeyFrameAnimationsBuilder keyFrameAnimationsBuilder = CVNBasicAnimation::keyFrameAnimationsFromBasicAnimation);

  TransitionType transitionType() const { return layerTransition_->type(); }
  double itemAEndOffset() const { return layerTransition_->itemAEndOffset(); }
  double itemBStartOffset() const { return layerTransition_->itemBStartOffset(); }

  // A new layer rebuilds the key-frame animations.
  void setItemA(std::shared_ptr<CVNCGItem> item);
  void setItemB(std::shared_ptr<CVNCGItem> item);
  void setItemABasicAnimation(std::optional<CVNBasicAnimation> animation) { itemABasicAnimation_ = std::move(animation); }
  void setItemBBasicAnimation(std::optional<CVNBasicAnimation> animation) { itemBBasicAnimation_ = std::move(animation); }

  // A runs out from the start; B runs in so that it ends with the transition.
  void updateKeyFrameAnimationsFromBasicAnimations();
  // Puts both layers where their animations are at the elapsed time.
  void updateLayersForNextFrame();

  const std::shared_ptr<CVNCGItem>& itemA() const { return itemA_; }
  const std::shared_ptr<CVNCGItem>& itemB() const { return itemB_; }
  const std::shared_ptr<CVNLayerTransition>& layerTransition() const { return layerTransition_; }
  const platform::Dictionary& itemAKeyFrameAnimations() const { return itemAKeyFrameAnimations_; }
  const platform::Dictionary& itemBKeyFrameAnimations() const { return itemBKeyFrameAnimations_; }
  const std::optional<CVNBasicAnimation>& itemABasicAnimation() const { return itemABasicAnimation_; }
  const std::optional<CVNBasicAnimation>& itemBBasicAnimation() const { return itemBBasicAnimation_; }

 protected:
  void clockDidStart() override { updateKeyFrameAnimationsFromBasicAnimations(); }

 private:
  const KeyFrameAnimationsBuilder keyFrameAnimationsBuilder_;
  std::shared_ptr<CVNCGItem> itemA_;
  std::shared_ptr<CVNCGItem> itemB_;
  std::shared_ptr<CVNLayerTransition> layerTransition_;
  platform::Dictionary itemAKeyFrameAnimations_;
  platform::Dictionary itemBKeyFrameAnimations_;
  std::optional<CVNBasicAnimation> itemABasicAnimation_;
  std::optional<CVNBasicAnimation> itemBBasicAnimation_;
};

}  // namespace engine::items
