#include "engine/items/transitions/TransitionItemFactory.h"

#include <cmath>
#include <string>

#include "engine/items/transitions/CVNLayerTransitionQueuePlayerItem.h"
#include "engine/items/transitions/CVNMovieTransitionQueuePlayerItem.h"
#include "engine/items/transitions/CVNShaderTransitionQueuePlayerItem.h"
#include "foundation/CVNLogController.h"

namespace engine::items {

namespace {

struct TransitionAndItem {
  std::shared_ptr<CVNTransition> transition;
  std::shared_ptr<CVNQueuePlayerItem> item;
};

// A movie cut at a frame: A ends and B starts on that frame of the output.
void applyCutFrame(const platform::Dictionary& dictionary, const pluginframework::CVNDisplayMode* mode,
                   CVNMovieTransition& transition) {
  const auto found = dictionary.find("CutFrameNumber");
  if (found == dictionary.end() || !found->second.isNumber()) return;
  // Without a frame rate there is no frame to cut on: the offsets stay.
  if (!mode || mode->frameRate() <= 0) return;
  const double seconds = *found->second.real() / mode->frameRate();
  transition.setItemAEndOffset(seconds);
  transition.setItemBStartOffset(seconds);
}

TransitionAndItem movieTransitionItem(const platform::Dictionary& dictionary, const StartTransitionContext& context,
                                      const MediaItemSessionFactory& sessions, std::string* error) {
  auto transition = CVNMovieTransition::initWithDictionary(dictionary, error);
  if (!transition) return {};
  applyCutFrame(dictionary, context.outputDisplayMode.get(), *transition);
  auto item = CVNMovieTransitionQueuePlayerItem::create(transition, sessions);
  // The clip item checks that it knows its player and output before it takes settings.
  item->setOutputBufferFormat(context.outputBufferFormat);
  item->setOutputAudioStreamBasicDescription(context.asbd);
  item->setDelegate(context.delegate);
  item->setOutputDisplayMode(context.outputDisplayMode);
  item->setMetalDevice(context.metalDevice);
  item->applySettingsFromDictionary({});
  return {transition, item};
}

TransitionAndItem transitionItem(TransitionType type, const platform::Dictionary& dictionary,
                                 const StartTransitionContext& context, const MediaItemSessionFactory& sessions,
                                 std::string* error) {
  switch (type) {
    case TransitionType::AlphaMovie:
    case TransitionType::MaskingMovie:
      return movieTransitionItem(dictionary, context, sessions, error);
    case TransitionType::Shader:
      if (auto transition = CVNShaderTransition::initWithDictionary(dictionary, error)) {
        return {transition, std::make_shared<CVNShaderTransitionQueuePlayerItem>(transition)};
      }
      return {};
    case TransitionType::Layer:
      if (auto transition = CVNLayerTransition::initWithDictionary(dictionary, error)) {
        return {transition, std::make_shared<CVNLayerTransitionQueuePlayerItem>(transition)};
      }
      return {};
    default:
      return {};
  }
}

}  // namespace

std::shared_ptr<CVNQueuePlayerItem> transitionFromDictionary(const platform::Dictionary& dictionary,
                                                             const StartTransitionContext& context,
                                                             const MediaItemSessionFactory& sessions) {
  const auto typeValue = dictionary.find("transitionType");
  if (typeValue == dictionary.end() || !typeValue->second.isString()) return nullptr;
  const auto type = CVNTransition::transitionTypeFromString(*typeValue->second.string());
  if (type == TransitionType::Unknown) return nullptr;
  std::string error;
  auto [transition, item] = transitionItem(type, dictionary, context, sessions, &error);
  if (!item) {
    foundation::CVNLogController::sharedLogController().logMessageWithLevel(2, false, error);
    return nullptr;
  }
  item->setDelegate(context.delegate);
  item->setOutputDisplayMode(context.outputDisplayMode);
  item->setMetalDevice(context.metalDevice);
  if (const auto duration = dictionary.find("duration"); duration != dictionary.end() && duration->second.isNumber()) {
    // NaN or infinity is no length to play: the transition keeps its own.
    if (const double seconds = *duration->second.real(); std::isfinite(seconds)) item->setPlaybackDuration(seconds);
  }
  item->setPreviousItemMixPoint(transition->itemAEndOffset());
  item->setNextItemMixPoint(transition->itemBStartOffset());
  return item;
}

}  // namespace engine::items
