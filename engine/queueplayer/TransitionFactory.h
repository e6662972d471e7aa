#pragma once
// How a queue player turns a transition's dictionary into the queue item that
// plays it into a clip. The player does not know the transition kinds; the
// engine gives it the builder, and tests give fakes.

#include <functional>
#include <memory>

#include "engine/items/CVNQueuePlayerItem.h"
#include "engine/items/MediaItemSessionFactory.h"
#include "platform/Value.h"

namespace engine::queueplayer {

// nullptr when the dictionary does not make a transition (the builder logs why).
using TransitionFactory = std::function<std::shared_ptr<items::CVNQueuePlayerItem>(
    const platform::Dictionary& dictionary, const items::StartTransitionContext& context)>;

}  // namespace engine::queueplayer
