#include "engine/items/transitions/CVNMovieTransitionQueuePlayerItem.h"

namespace engine::items {

std::shared_ptr<CVNMovieTransitionQueuePlayerItem> CVNMovieTransitionQueuePlayerItem::create(
    std::shared_ptr<CVNMovieTransition> transition, MediaItemSessionFactory factory) {
  return std::shared_ptr<CVNMovieTransitionQueuePlayerItem>(
      new CVNMovieTransitionQueuePlayerItem(std::move(transition), std::move(factory)));
}

CVNMovieTransitionQueuePlayerItem::CVNMovieTransitionQueuePlayerItem(std::shared_ptr<CVNMovieTransition> transition,
                                                                     MediaItemSessionFactory factory)
    : CVNMediaQueuePlayerItem(std::move(factory)), transition_(std::move(transition)) {
  setShouldPremultiplyByAlpha(transition_->shouldPremultiplyByAlpha());
}

void CVNMovieTransitionQueuePlayerItem::applySettingsFromDictionary(const ItemDictionary&) {
  ItemDictionary settings{{"itemAllowSmartResize", platform::Value(true)}};
  if (auto url = transition_->URL()) settings.emplace("itemURL", std::move(*url));
  if (auto name = transition_->name()) settings.emplace("itemDisplayName", platform::Value(std::move(*name)));
  CVNMediaQueuePlayerItem::applySettingsFromDictionary(settings);
}

}  // namespace engine::items
