#pragma once
// The queue item of a movie transition: a clip item that plays the
// transition's movie; the renderer uses its picture as an alpha key, or as a
// mask, between the two neighbouring items. Whatever settings it is given,
// it plays the transition's file under the transition's name.
//
// Lives on: the queue player's serial queue, as every clip item. Made with
// create(): the session holds the item weakly as its delegate.

#include <memory>

#include "engine/items/CVNMediaQueuePlayerItem.h"
#include "engine/transitions/CVNMovieTransition.h"

namespace engine::items {

class CVNMovieTransitionQueuePlayerItem final : public CVNMediaQueuePlayerItem {
 public:
  // Premultiplies by alpha when the transition says so.
  static std::shared_ptr<CVNMovieTransitionQueuePlayerItem> create(
      std::shared_ptr<CVNMovieTransition> transition,
      MediaItemSessionFactory factory = MediaItemSessionFactory::standard());

  bool isTransition() const override { return true; }
  bool isMask() const { return transition_->isMaskingMovie(); }
  TransitionType transitionType() const { return transition_->type(); }
  const std::shared_ptr<CVNMovieTransition>& transition() const { return transition_; }

  // Ignores `dictionary`: the clip settings come from the transition.
  void applySettingsFromDictionary(const ItemDictionary& dictionary) override;

 private:
  CVNMovieTransitionQueuePlayerItem(std::shared_ptr<CVNMovieTransition> transition, MediaItemSessionFactory factory);

  const std::shared_ptr<CVNMovieTransition> transition_;
};

}  // namespace engine::items
