#pragma once
// The queue player's transition factory: turns a transition dictionary (the
// transitions registry's form, or a clip's "itemStartTransition") into the
// queue item that plays it, with both mix points set from the transition's
// offsets, so that the clip before it fades out and the clip after it fades in.
//
// Runs on the caller's queue (the queue player's); the items it makes live there.

#include <memory>

#include "engine/items/CVNQueuePlayerItem.h"
#include "engine/items/MediaItemSessionFactory.h"
#include "platform/Value.h"

namespace engine::items {

// None when "transitionType" is not a string or names no layer, movie or
// shader transition, or when the transition cannot be read (its error is
// logged). A movie transition's item makes its session with `sessions`.
std::shared_ptr<CVNQueuePlayerItem> transitionFromDictionary(
    const platform::Dictionary& dictionary, const StartTransitionContext& context,
    const MediaItemSessionFactory& sessions = MediaItemSessionFactory::standard());

}  // namespace engine::items
